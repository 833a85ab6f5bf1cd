// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include <QLabel>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include "app/presentation/Symbols.h"
#include "core/tutor/MistakeCategory.h"
#include "core/tutor/TutorResult.h"

// The views shown inside the review panel, drawn for its black background. They only display; the copy
// button's clipboard write is their one effect. Every view fills the width it is given. Main thread only.
namespace norik::app {

// A rounded shape filled with white at a low opacity behind its children.
class Card : public QWidget {
    Q_OBJECT
public:
    Card(qreal cornerRadius, qreal fillOpacity, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_cornerRadius;
    qreal m_fillOpacity;
};

// Plain text on a capsule.
class CapsuleLabel : public QLabel {
    Q_OBJECT
public:
    CapsuleLabel(const QString& text, const QFont& font, const QColor& textColour, const QColor& fill, QMargins padding,
                 QWidget* parent);
    [[nodiscard]] QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
};

// The upper-case name of a mistake category in its colour.
class CategoryPill : public CapsuleLabel {
    Q_OBJECT
public:
    CategoryPill(core::MistakeCategory category, QWidget* parent);
    [[nodiscard]] QColor colour() const;
};

// The score of a review on a capsule of its colour, with a dot of that colour: "7/10".
class ScoreBadge : public QWidget {
    Q_OBJECT
public:
    ScoreBadge(std::int64_t score, QWidget* parent);
    [[nodiscard]] QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
};

// Puts its text on the clipboard as plain text and shows a green check mark for `copiedDuration`.
class CopyButton : public SymbolButton {
    Q_OBJECT
public:
    CopyButton(QString text, std::chrono::milliseconds copiedDuration, QWidget* parent);
    [[nodiscard]] bool isCopied() const { return m_copied; }

private:
    void copy();
    void setCopied(bool copied);

    QString m_text;
    std::chrono::milliseconds m_copiedDuration;
    bool m_copied = false;
};

// A quarter arc turning over a faint ring. It turns only while shown, so a hidden spinner keeps no timer.
class NorikSpinner : public QWidget {
    Q_OBJECT
public:
    explicit NorikSpinner(QWidget* parent);
    [[nodiscard]] bool isSpinning() const;
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QVariantAnimation m_rotation;
};

// Shown while the model works. The cancel hint appears once the view has been on screen for
// `slowDelay`; it keeps its space before that, so the view does not change size.
class ReviewLoadingView : public QWidget {
    Q_OBJECT
public:
    ReviewLoadingView(std::chrono::milliseconds slowDelay, QWidget* parent);
    [[nodiscard]] bool isSlow() const { return m_slow; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void becomeSlow();

    QLabel* m_hint;
    QTimer m_slowTimer;
    bool m_slow = false;
};

// A centred symbol over a wrapped message: the failure of a review, or a notice such as an empty selection.
class ReviewMessageView : public QWidget {
    Q_OBJECT
public:
    enum class Kind { error, notice };
    ReviewMessageView(Kind kind, const QString& message, QWidget* parent);
};

// The result of a review: the optional note, the corrected and the more natural text with copy buttons,
// and "What to learn" with one entry per issue when there are issues.
class ReviewView : public QWidget {
    Q_OBJECT
public:
    ReviewView(const core::TutorResult& result, const std::optional<QString>& note,
               std::chrono::milliseconds copiedDuration, QWidget* parent);
};

} // namespace norik::app
