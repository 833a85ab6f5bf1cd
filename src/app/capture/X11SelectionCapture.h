// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include <QObject>
#include <QString>
#include <xcb/xcb.h>

#include "app/capture/SelectionCapture.h"
#include "app/capture/X11Windows.h"

class QClipboard;

namespace norik::app {

// Captures the selection on an X11 desktop: Ctrl+C through XTEST into the focused window, then the text of
// the CLIPBOARD once it changes, and the user's clipboard written back. Where Ctrl+C is not Copy (terminal
// emulators, some editors) it types nothing and takes the PRIMARY selection instead, provided that
// application owns it.
//
// In a Wayland session a native Wayland window has the focus whenever the window manager reports no active
// X11 window. No synthetic key reaches it, but the compositor shares its PRIMARY selection with XWayland, so
// that is read instead; its owner is XWayland itself, so whose selection it is cannot be told there. Where
// XWayland shows none (wlroots shows it only to a focused X11 window) and the compositor offers data-control,
// the compositor's own primary selection is read through that.
//
// The change counter moves on QClipboard::changed, which Qt emits for other clients' clipboard
// ownership (XFIXES); so the waiting runs on the main thread's event loop: a change ends it at once, and
// 25 polls 15 ms apart bound it.
class X11SelectionCapture final : public SelectionCapture {
public:
    static constexpr int pollCount = 25;
    static constexpr int pollIntervalMs = 15;
    // The whole save of the user's clipboard before the Ctrl+C: an owner that does not answer blocks the
    // event loop no longer than this, and the formats it has not delivered by then are lost.
    static constexpr std::chrono::milliseconds saveBudget{1000};
    // The wait for a selection read through data-control, whose owner may never answer.
    static constexpr std::chrono::milliseconds dataControlBudget{2000};

    // Borrows the connection, which must be Qt's own: the hot key's passive grab belongs to it, and only
    // the client that holds a grab can end it.
    X11SelectionCapture(xcb_connection_t* connection, xcb_window_t root, QClipboard* clipboard);
    // On Qt's X11 connection and clipboard; null when the application does not run on X11.
    [[nodiscard]] static std::unique_ptr<X11SelectionCapture> forApplication();
    X11SelectionCapture(const X11SelectionCapture&) = delete;
    X11SelectionCapture& operator=(const X11SelectionCapture&) = delete;
    // Captures still waiting end at once: their clipboard is written back and `done` runs.
    ~X11SelectionCapture() override;

    void capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) override;

    // Asks the compositor, once, whether it offers data-control.
    void setWaylandSession(bool wayland);

    // Gives the focus back to the window that was active when the last capture started, provided `current`
    // (Norik's panel, about to go) has the focus: a user who has moved on to another window stays there.
    void restoreFocusFrom(xcb_window_t current);

private:
    struct Run;

    void poll(const std::shared_ptr<Run>& run);
    void schedulePoll(const std::shared_ptr<Run>& run);
    void finish(const std::shared_ptr<Run>& run, std::optional<QString> text);
    [[nodiscard]] std::optional<QString> clipboardText() const;

    xcb_connection_t* m_connection;
    QClipboard* m_clipboard;
    X11Windows m_windows;
    FocusedWindow m_focusBeforeCapture;
    std::uint64_t m_changeCount = 0;
    bool m_writingBack = false;
    bool m_waylandSession = false;
    bool m_dataControl = false;
    std::vector<std::shared_ptr<Run>> m_runs;
    // Owns the timers and the clipboard connection, so none of them outlives the capture.
    QObject m_context;
};

} // namespace norik::app
