// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11SelectionCapture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include "app/capture/ClipboardSnapshot.h"
#include "app/capture/X11ClipboardReader.h"
#include "app/capture/X11CopyKeystroke.h"
#include "platform/desktop/DataControlPrimary.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {

struct X11SelectionCapture::Run {
    std::function<void(std::optional<QString>)> done;
    ClipboardSnapshot saved;
    std::uint64_t baseline = 0;
    int sleeps = 0;
    bool stopped = false;
    bool finished = false;
    // A capture that needs no waiting: its text is the PRIMARY selection's.
    bool fromPrimary = false;
    std::optional<QString> primaryText;
    std::optional<std::stop_callback<std::function<void()>>> onStop;
};

X11SelectionCapture::X11SelectionCapture(xcb_connection_t* connection, xcb_window_t root, QClipboard* clipboard)
    : m_connection(connection), m_clipboard(clipboard), m_windows(connection, root) {
    QObject::connect(m_clipboard, &QClipboard::changed, &m_context, [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard || m_writingBack) {
            return;
        }
        ++m_changeCount;
        // The copy is taken as soon as it shows rather than at the next poll, which would add up to a poll's
        // interval to every review. Queued: Qt emits this while it handles the owner change, and reading the
        // clipboard there would wait for an answer inside that handling.
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                for (const std::shared_ptr<Run>& run : std::vector(m_runs)) {
                    if (!run->fromPrimary && !run->finished && m_changeCount != run->baseline) {
                        finish(run, clipboardText());
                    }
                }
            },
            Qt::QueuedConnection);
    });
}

std::unique_ptr<X11SelectionCapture> X11SelectionCapture::forApplication() {
    const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return nullptr;
    }
    xcb_connection_t* connection = x11->connection();
    // Qt connects to the screen that $DISPLAY names, and so does this.
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) != 0) {
        std::free(host);
    }
    const xcb_window_t root = platform::x11::rootWindow(connection, screen);
    if (root == XCB_NONE) {
        return nullptr;
    }
    return std::make_unique<X11SelectionCapture>(connection, root, QGuiApplication::clipboard());
}

X11SelectionCapture::~X11SelectionCapture() {
    while (!m_runs.empty()) {
        const std::shared_ptr<Run> run = m_runs.front();
        if (run->fromPrimary) {
            finish(run, run->primaryText);
        } else {
            run->stopped = true;
            poll(run);
        }
    }
}

void X11SelectionCapture::setWaylandSession(bool wayland) {
    m_waylandSession = wayland;
    m_dataControl = wayland && platform::desktop::compositorOffersDataControl();
}

void X11SelectionCapture::capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) {
    auto run = std::make_shared<Run>();
    run->done = std::move(done);
    m_runs.push_back(run);
    m_focusBeforeCapture = m_windows.focusedWindow();
    const bool waylandWindow = m_waylandSession && !m_focusBeforeCapture.managed;
    if (waylandWindow) {
        // XWayland's own focus then names no window the user works in, and none to give the focus back to.
        m_focusBeforeCapture = {};
    }

    if (waylandWindow || (m_focusBeforeCapture.window != XCB_NONE &&
                          answersFromPrimary(m_windows.windowClass(m_focusBeforeCapture.window)))) {
        run->fromPrimary = true;
        const QMimeData* primary = waylandWindow || m_windows.ownsPrimary(m_focusBeforeCapture.window)
                                       ? m_clipboard->mimeData(QClipboard::Selection)
                                       : nullptr;
        if (primary != nullptr && primary->hasText()) {
            run->primaryText = primary->text();
        } else if (waylandWindow && m_dataControl) {
            platform::desktop::readDataControlPrimary(
                dataControlBudget, std::move(stop), [this, weak = std::weak_ptr(run)](std::optional<std::string> text) {
                    if (const auto pending = weak.lock()) {
                        pending->primaryText = text ? std::optional(QString::fromStdString(*text)) : std::nullopt;
                        finish(pending, pending->primaryText);
                    }
                });
            return;
        }
        // Still through the event loop: `done` never runs inside capture().
        QTimer::singleShot(0, &m_context, [this, weak = std::weak_ptr(run)] {
            if (const auto pending = weak.lock()) {
                finish(pending, pending->primaryText);
            }
        });
        return;
    }

    // Norik's own clipboard, written back by an earlier capture, is served by this very thread, which could
    // not answer a request it waits on; Qt reads it without asking the X server.
    run->saved = m_clipboard->ownsClipboard() ? ClipboardSnapshot::take(m_clipboard->mimeData(QClipboard::Clipboard))
                                              : readOtherClientsClipboard(saveBudget);
    // An application that owns the clipboard already may copy again without claiming it anew (Tk does), and
    // then no change would show. Owning it with the saved contents first makes any Copy a new owner.
    m_writingBack = true;
    m_clipboard->setMimeData(run->saved.toMimeData().release(), QClipboard::Clipboard);
    m_writingBack = false;
    run->baseline = m_changeCount;
    sendCopyKeystroke(m_connection);
    // request_stop() may come from any thread; the run is only ever touched on this one.
    run->onStop.emplace(std::move(stop), [this, weak = std::weak_ptr(run)] {
        QMetaObject::invokeMethod(
            &m_context,
            [this, weak] {
                if (const auto pending = weak.lock(); pending && !pending->finished) {
                    pending->stopped = true;
                    poll(pending);
                }
            },
            Qt::QueuedConnection);
    });
    poll(run);
}

void X11SelectionCapture::poll(const std::shared_ptr<Run>& run) {
    if (run->finished) {
        return;
    }
    if (m_changeCount != run->baseline) {
        finish(run, clipboardText());
        return;
    }
    // Stopped: the remaining polls would all see the same counter, since nothing runs between them.
    if (run->stopped || run->sleeps == pollCount) {
        finish(run, std::nullopt);
        return;
    }
    schedulePoll(run);
}

void X11SelectionCapture::schedulePoll(const std::shared_ptr<Run>& run) {
    ++run->sleeps;
    QTimer::singleShot(std::chrono::milliseconds(pollIntervalMs), Qt::PreciseTimer, &m_context,
                       [this, weak = std::weak_ptr(run)] {
                           const auto pending = weak.lock();
                           if (!pending || pending->finished) {
                               return;
                           }
                           // The last sleep ends the waiting without another look.
                           if (pending->sleeps == pollCount) {
                               finish(pending, std::nullopt);
                           } else {
                               poll(pending);
                           }
                       });
}

void X11SelectionCapture::finish(const std::shared_ptr<Run>& run, std::optional<QString> text) {
    run->finished = true;
    std::erase(m_runs, run);
    // Unchanged, Norik still holds the saved contents, and an empty clipboard is given up again. A password
    // manager's secret stays as the Copy left it, so the password manager can still clear what it owns.
    const bool changed = m_changeCount != run->baseline;
    const bool writeBack = changed && !run->saved.empty() && !run->saved.isSecret();
    const bool giveUp = !changed && run->saved.empty();
    if (!run->fromPrimary && (writeBack || giveUp)) {
        m_writingBack = true;
        if (writeBack) {
            m_clipboard->setMimeData(run->saved.toMimeData().release(), QClipboard::Clipboard);
        } else {
            m_clipboard->clear(QClipboard::Clipboard);
        }
        m_writingBack = false;
    }
    const auto done = std::move(run->done);
    run->onStop.reset();
    done(std::move(text));
}

std::optional<QString> X11SelectionCapture::clipboardText() const {
    const QMimeData* data = m_clipboard->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) {
        return std::nullopt;
    }
    return data->text();
}

void X11SelectionCapture::restoreFocusFrom(xcb_window_t current) {
    if (m_windows.focusedWindow().window == current) {
        m_windows.activate(m_focusBeforeCapture);
    }
}

} // namespace norik::app
