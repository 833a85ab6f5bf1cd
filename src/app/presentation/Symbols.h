// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>
#include <QWidget>

// Small monochrome icons of our own drawing, bundled as resources and tinted when drawn.
namespace norik::app {

enum class Symbol {
    infoCircle,
    checkmarkSealFill,
    sparkles,
    graduationcapFill,
    docOnDoc,
    checkmark,
    xmarkCircleFill,
    exclamationmarkTriangleFill,
    textCursor,
};

// `symbol` in `colour` (its alpha included), `size` device-independent pixels square, sharp at `devicePixelRatio`.
[[nodiscard]] QPixmap symbolPixmap(Symbol symbol, const QColor& colour, int size, qreal devicePixelRatio);

// A symbol image in a line of text.
class SymbolIcon : public QWidget {
    Q_OBJECT
public:
    SymbolIcon(Symbol symbol, const QColor& colour, int size, QWidget* parent);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol m_symbol;
    QColor m_colour;
    int m_size;
};

// A borderless button that shows only a symbol. It takes no keyboard focus, so Escape and typing are
// never caught by it.
class SymbolButton : public QAbstractButton {
    Q_OBJECT
public:
    SymbolButton(Symbol symbol, const QColor& colour, int size, QWidget* parent);
    void setSymbol(Symbol symbol, const QColor& colour);
    [[nodiscard]] Symbol symbol() const { return m_symbol; }
    [[nodiscard]] QColor colour() const { return m_colour; }
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol m_symbol;
    QColor m_colour;
    int m_size;
};

} // namespace norik::app
