// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include "app/presentation/ReviewPresenter.h"

class QScreen;

namespace norik::app {

// How long the loading view waits before it shows its cancel hint, and how long a copy button shows its
// check mark. Tests shorten them.
struct ReviewTimings {
    std::chrono::milliseconds slowHintDelay{6000};
    std::chrono::milliseconds copiedDuration{1500};
};

// The frameless black window that hangs from the top centre of the screen. It draws its own shape
// (square top corners, round bottom ones) and lets its content overflow while its frame animates.
class NotchPanel : public QWidget {
    Q_OBJECT
public:
    NotchPanel();
    // Puts `content` in place of the current content, at the top left, at `size`.
    void setContent(QWidget* content, QSize size);
    [[nodiscard]] QWidget* content() const { return m_content; }

    // Cuts the window to the panel's outline at `size`, the size its animation ends at.
    void setShapeSize(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QWidget> m_content;
    QSize m_shapeSize;
};

// Shows each stage of a review in one panel at the top of the screen that holds the mouse pointer, and
// closes it on Escape or its close button. While the panel is up an application-wide event filter takes
// the Escape key of every window of this process; keys pressed in other applications have to come
// through escapePressed(), from a monitor that watches the whole desktop while shownChanged(true) holds.
// Main thread only.
class NotchReviewPresenter final : public QObject, public ReviewPresenter {
    Q_OBJECT
public:
    static constexpr int kLoadingWidth = 240;
    static constexpr int kNoticeWidth = 300;
    static constexpr int kErrorWidth = 320;
    static constexpr int kResultWidth = 420;
    // Reused panels animate to the new frame; new panels fade in while growing by kGrowth downwards.
    static constexpr std::chrono::milliseconds kResizeDuration{280};
    static constexpr std::chrono::milliseconds kFadeInDuration{200};
    static constexpr int kGrowth = 18;

    explicit NotchReviewPresenter(ReviewTimings timings = {}, QObject* parent = nullptr);
    ~NotchReviewPresenter() override;
    NotchReviewPresenter(const NotchReviewPresenter&) = delete;
    NotchReviewPresenter& operator=(const NotchReviewPresenter&) = delete;

    void showLoading() override;
    void showNotice(const QString& message) override;
    void showError(const QString& message) override;
    void showResult(const core::TutorResult& result, const std::optional<QString>& note) override;
    void setOnDismiss(std::function<void()> onDismiss) override;
    // The loading view gets the close button too, for sessions where Escape may not reach Norik: over a
    // native Wayland window no desktop-wide key monitor sees it, and not every compositor lets the panel
    // take the focus.
    void setLoadingClosable(bool closable) { m_loadingClosable = closable; }
    // The user's action the next panels answer, for window managers that prevent focus stealing: the X server
    // time of a hot-key press, or a launch such as `norik trigger`'s, whose startup id the next panel carries
    // and completes. The panel asks for the focus as of that time rather than of Qt's last event.
    void setUserTime(std::uint32_t time) { m_userTime = time; }
    void answerLaunch(const QByteArray& startupId);

    // Runs onDismiss, stops watching Escape and hides the panel at once. Does nothing more when no panel
    // is up (onDismiss still runs).
    void dismiss();
    // For a desktop-wide Escape monitor: dismisses if the panel is up, else does nothing.
    void escapePressed();

    [[nodiscard]] bool isShown() const { return m_panel != nullptr; }
    // The panel window while it is up, else null.
    [[nodiscard]] NotchPanel* panel() const { return m_panel; }
    // Where the panel ends up once its animation is over.
    [[nodiscard]] QRect targetGeometry() const { return m_target; }

    // The tallest a result view may be before it scrolls: 72 % of the height of the work area of `screen`, at
    // least 240; 504 without a screen.
    [[nodiscard]] static int maximumResultHeight(const QScreen* screen);

signals:
    // True when a panel comes up, false when it is dismissed.
    void shownChanged(bool shown);
    // The panel is about to close and no other window of the application is visible: the window the review
    // came from may have its focus back, if the panel still has it.
    void closingLastWindow(WId panel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Header {
        std::int64_t score;
        QString language;
    };

    void show(QWidget* content, const std::optional<Header>& header, bool showClose);
    [[nodiscard]] QWidget* buildRoot(QWidget* inner, int topInset, const std::optional<Header>& header, bool showClose);
    void installMonitors();
    void removeMonitors();
    void stopAnimation();

    ReviewTimings m_timings;
    bool m_loadingClosable = false;
    std::uint32_t m_userTime = 0;
    QByteArray m_launch;
    std::function<void()> m_onDismiss;
    QPointer<NotchPanel> m_panel;
    QPointer<QObject> m_animation;
    QRect m_target;
    bool m_monitoring = false;
};

} // namespace norik::app
