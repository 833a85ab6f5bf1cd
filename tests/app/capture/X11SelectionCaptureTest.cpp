// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11SelectionCapture.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QMimeData>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon.h>

#include "app/capture/CaptureSession.h"
#include "app/capture/ClipboardSnapshot.h"
#include "app/capture/X11AccessibilityTrust.h"
#include "app/capture/X11CopyKeystroke.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

using tests::ClientProcess;
using tests::DesktopSession;
using tests::Editor;
using tests::spinUntil;

constexpr int qtKeyC = Qt::Key_C;
const std::string ctrlC = "key " + std::to_string(qtKeyC) + " " + std::to_string(static_cast<int>(Qt::ControlModifier));

// X key codes (evdev + 8) of the keys a user holds for the Ctrl+Alt+Space hot key.
constexpr xcb_keycode_t leftControl = 37;
constexpr xcb_keycode_t leftAlt = 64;
constexpr xcb_keycode_t space = 65;

using Formats = std::map<QByteArray, QByteArray>;

class X11SelectionCaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_session = std::make_unique<DesktopSession>(); }
    static void TearDownTestSuite() { s_session.reset(); }

    void SetUp() override {
        ASSERT_EQ(s_session->error(), "");
        m_capture = X11SelectionCapture::forApplication();
        ASSERT_NE(m_capture, nullptr);
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context,
                         [this](QClipboard::Mode mode) { m_clipboardChanges += mode == QClipboard::Clipboard; });
    }

    // Runs one capture to its end.
    std::optional<QString> capture(std::stop_token stop = {}) {
        bool finished = false;
        int calls = 0;
        std::optional<QString> text;
        m_capture->capture(std::move(stop), [&](std::optional<QString> result) {
            ++calls;
            finished = true;
            text = std::move(result);
        });
        EXPECT_TRUE(spinUntil([&] { return finished; }));
        // A second `done` would come from a poll still scheduled; give it the whole window to show up.
        spinUntil([] { return false; },
                  std::chrono::milliseconds(X11SelectionCapture::pollCount * X11SelectionCapture::pollIntervalMs * 2));
        EXPECT_EQ(calls, 1);
        return text;
    }

    // The editor's clipboard, seen from this process: Qt announces another client's new clipboard with
    // `changed` once XFIXES tells it, which must happen before a capture takes its baseline.
    std::unique_ptr<Editor> startEditor(const QStringList& arguments, bool setsClipboard) {
        const int before = m_clipboardChanges;
        auto editor = std::make_unique<Editor>(*s_session, arguments);
        EXPECT_TRUE(editor->ready());
        if (setsClipboard) {
            EXPECT_TRUE(spinUntil([&] { return m_clipboardChanges > before; }));
        }
        return editor;
    }

    // What another client reads from the clipboard, format by format.
    static Formats clipboardSeenByAnotherClient() {
        ClientProcess reader(QStringLiteral(NORIK_CAPTURE_TEST_EDITOR), {QStringLiteral("--dump")});
        EXPECT_TRUE(reader.waitForLine("end"));
        Formats formats;
        for (const QByteArray& line : reader.lines()) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() >= 2 && fields[0] == "format") {
                formats[fields[1]] = QByteArray::fromBase64(fields.size() > 2 ? fields[2] : QByteArray());
            }
        }
        return formats;
    }

    // Readable in failure messages, unlike a list of QByteArray.
    static std::vector<std::string> copyKeysReceived(Editor& editor) {
        std::vector<std::string> keys;
        for (const QByteArray& line : editor.process().lines()) {
            if (line.startsWith("key " + QByteArray::number(qtKeyC) + " ")) {
                keys.push_back(line.toStdString());
            }
        }
        return keys;
    }

    static std::unique_ptr<DesktopSession> s_session;
    std::unique_ptr<X11SelectionCapture> m_capture;
    int m_clipboardChanges = 0;
    QObject m_context;
};

std::unique_ptr<DesktopSession> X11SelectionCaptureTest::s_session;

TEST_F(X11SelectionCaptureTest, ReturnsTheSelectionAndPutsTextHtmlAndImageBackByteForByte) {
    const auto editor = startEditor({"--text", "the selected words", "--select", "--clipboard-text", "old plain",
                                     "--clipboard-html", "<b>old</b> html", "--clipboard-png"},
                                    true);
    const Formats before = clipboardSeenByAnotherClient();
    ASSERT_EQ(before.at("text/plain"), "old plain");
    ASSERT_TRUE(before.at("text/html").contains("<b>old</b> html"));
    ASSERT_EQ(QImage::fromData(before.at("image/png"), "PNG").size(), QSize(16, 8));

    EXPECT_EQ(capture(), "the selected words");

    EXPECT_EQ(clipboardSeenByAnotherClient(), before);
    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
}

TEST_F(X11SelectionCaptureTest, SelectionTheApplicationAlreadyCopiedIsReturnedAgainAndAgain) {
    ClientProcess editor(QStringLiteral("wish"),
                         {QStringLiteral(NORIK_CAPTURE_COPIED_EDITOR), "-name", "tkeditor", "copied before"});
    ASSERT_TRUE(editor.waitForLine("focused"));
    ASSERT_TRUE(spinUntil([] { return s_session->windowClass(s_session->activeWindow()) == "Tkeditor"; }));

    EXPECT_EQ(capture(), "copied before");
    EXPECT_EQ(capture(), "copied before");

    EXPECT_EQ(clipboardSeenByAnotherClient().at("text/plain"), "copied before");
}

TEST_F(X11SelectionCaptureTest, ClipboardNorikOwnsIsPutBackToo) {
    // What an earlier capture's write-back leaves: Norik itself serves the clipboard.
    QGuiApplication::clipboard()->setText(QStringLiteral("norik's own words"), QClipboard::Clipboard);
    ASSERT_TRUE(QGuiApplication::clipboard()->ownsClipboard());
    const auto editor = startEditor({"--text", "copied over norik", "--select"}, false);

    EXPECT_EQ(capture(), "copied over norik");

    EXPECT_EQ(clipboardSeenByAnotherClient().at("text/plain"), "norik's own words");
}

TEST_F(X11SelectionCaptureTest, EmptyClipboardKeepsTheCopiedSelection) {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    ASSERT_TRUE(spinUntil([] { return s_session->clipboardOwner() == XCB_NONE; }));
    const auto editor = startEditor({"--text", "copied once", "--select"}, false);

    EXPECT_EQ(capture(), "copied once");

    const Formats after = clipboardSeenByAnotherClient();
    EXPECT_EQ(after.at("text/plain"), "copied once");
}

TEST_F(X11SelectionCaptureTest, NothingSelectedGivesAbsentAfterTheLastPollAndKeepsTheClipboard) {
    const auto editor = startEditor({"--text", "not selected", "--clipboard-text", "old plain"}, true);

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(capture(), std::nullopt);
    // Polling is the waiting: it must not end before the last of the 15 ms sleeps.
    EXPECT_GE(clock.elapsed(), X11SelectionCapture::pollCount * X11SelectionCapture::pollIntervalMs);

    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
    EXPECT_EQ(clipboardSeenByAnotherClient().at("text/plain"), "old plain");
}

TEST_F(X11SelectionCaptureTest, EditorGetsCtrlCAloneWhileTheHotKeyIsStillHeld) {
    const auto editor = startEditor({"--text", "held keys", "--select", "--clipboard-text", "old plain"}, true);
    // The hot key as the shortcut module grabs it, on this process's connection: pressing it makes the
    // passive grab active, so every later key goes to this process until the grab ends.
    xcb_connection_t* connection = s_session->connection();
    const auto mask = static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    const platform::x11::XcbReply<xcb_generic_error_t> grabError(
        xcb_request_check(connection, xcb_grab_key_checked(connection, 1, s_session->root(), mask, space,
                                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    ASSERT_EQ(grabError, nullptr);
    s_session->fakeKey(XCB_KEY_PRESS, leftControl);
    s_session->fakeKey(XCB_KEY_PRESS, leftAlt);
    s_session->fakeKey(XCB_KEY_PRESS, space);
    const platform::x11::XcbReply<xcb_query_keymap_reply_t> held(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    ASSERT_NE(held, nullptr);
    ASSERT_NE(held->keys[space / 8] & (1U << (space % 8)), 0U);

    EXPECT_EQ(capture(), "held keys");

    xcb_ungrab_key(connection, space, s_session->root(), mask);
    xcb_flush(connection);
    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), "old plain");
}

TEST_F(X11SelectionCaptureTest, EditorGetsCtrlCAloneWhileCtrlAltAreHeldOnTheKeyboardDevice) {
    const auto editor = startEditor({"--text", "device keys", "--select"}, false);
    xcb_connection_t* connection = s_session->connection();
    const auto deviceKey = [](std::uint8_t type, xcb_keycode_t key) {
        ASSERT_TRUE(s_session->fakeDeviceKey(type, key));
    };
    deviceKey(XCB_INPUT_DEVICE_KEY_PRESS, leftControl);
    deviceKey(XCB_INPUT_DEVICE_KEY_PRESS, leftAlt);
    const platform::x11::XcbReply<xcb_query_keymap_reply_t> held(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    ASSERT_NE(held, nullptr);
    ASSERT_NE(held->keys[leftAlt / 8] & (1U << (leftAlt % 8)), 0U);

    const auto text = capture();

    deviceKey(XCB_INPUT_DEVICE_KEY_RELEASE, leftAlt);
    deviceKey(XCB_INPUT_DEVICE_KEY_RELEASE, leftControl);
    EXPECT_EQ(text, "device keys");
    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
}

TEST_F(X11SelectionCaptureTest, DvorakLayoutStillTypesTheCopy) {
    ASSERT_TRUE(DesktopSession::run(
        "setxkbmap", {"-display", QString::fromStdString(s_session->display()), "us", "-variant", "dvorak"}));
    const auto editor = startEditor({"--text", "dvorak words", "--select"}, false);

    const auto text = capture();

    DesktopSession::run("setxkbmap", {"-display", QString::fromStdString(s_session->display()), "us"});
    EXPECT_EQ(text, "dvorak words");
    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
}

TEST_F(X11SelectionCaptureTest, SecretClipboardIsNotWrittenBack) {
    const auto editor =
        startEditor({"--text", "public words", "--select", "--clipboard-text", "hunter2", "--secret"}, true);
    ASSERT_EQ(clipboardSeenByAnotherClient().at("x-kde-passwordManagerHint"), "secret");

    EXPECT_EQ(capture(), "public words");

    const Formats after = clipboardSeenByAnotherClient();
    EXPECT_EQ(after.at("text/plain"), "public words");
    EXPECT_FALSE(after.contains("x-kde-passwordManagerHint"));
}

TEST_F(X11SelectionCaptureTest, TerminalGivesItsPrimarySelectionAndIsNotInterrupted) {
    QGuiApplication::clipboard()->setText(QStringLiteral("clipboard stays"), QClipboard::Clipboard);
    const xcb_window_t clipboardOwner = s_session->clipboardOwner();
    const tests::Terminal terminal(*s_session, QStringLiteral("terminal words"));
    ASSERT_TRUE(terminal.ready());

    const auto text = capture();

    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->trimmed(), "terminal words");
    // A Ctrl+C would have ended sleep, and with it xterm, well within this time.
    spinUntil([&] { return !terminal.running(); }, std::chrono::milliseconds(750));
    EXPECT_TRUE(terminal.running());
    EXPECT_EQ(s_session->clipboardOwner(), clipboardOwner);
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), "clipboard stays");
}

TEST_F(X11SelectionCaptureTest, TerminalWithoutASelectionOfItsOwnGivesNothingRatherThanAnotherApplications) {
    QGuiApplication::clipboard()->setText(QStringLiteral("old words from elsewhere"), QClipboard::Selection);
    const tests::Terminal terminal(*s_session, QStringLiteral("nothing selected here"), false);
    ASSERT_TRUE(terminal.ready());

    EXPECT_EQ(capture(), std::nullopt);
}

TEST_F(X11SelectionCaptureTest, StopEndsTheWaitingAndStillGivesACopyThatArrived) {
    {
        const auto editor = startEditor({"--text", "not selected", "--clipboard-text", "old plain"}, true);
        std::stop_source stop;
        stop.request_stop();
        bool lateTimerFired = false;
        bool finished = false;
        bool finishedBeforeTimer = false;
        m_capture->capture(stop.get_token(), [&](std::optional<QString> text) {
            finished = true;
            finishedBeforeTimer = !lateTimerFired;
            EXPECT_EQ(text, std::nullopt);
        });
        // Well short of the 25 polls, and long enough for a loaded machine to run the queued stop first.
        QTimer late;
        late.setSingleShot(true);
        QObject::connect(&late, &QTimer::timeout, [&] { lateTimerFired = true; });
        late.start(X11SelectionCapture::pollCount * X11SelectionCapture::pollIntervalMs * 3 / 4);
        ASSERT_TRUE(spinUntil([&] { return finished; }));
        EXPECT_TRUE(finishedBeforeTimer);
    }
    {
        const auto editor = startEditor({"--text", "arrived in time", "--select"}, false);
        std::stop_source stop;
        const auto connection = QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context, [&] {
            // The Copy, not the capture's own claim before it.
            if (!QGuiApplication::clipboard()->ownsClipboard()) {
                stop.request_stop();
            }
        });
        EXPECT_EQ(capture(stop.get_token()), "arrived in time");
        QObject::disconnect(connection);
        EXPECT_TRUE(stop.stop_requested());
    }
}

// A clipboard owner on a connection of its own. It lists its formats and never delivers the silent ones; the
// bytes of `piecesFormat`, if given, it sends in INCR pieces.
class ScriptedClipboardOwner {
public:
    static constexpr const char* piecesFormat = "application/x-norik-pieces";
    static constexpr qsizetype pieceBytes = 4096;

    ScriptedClipboardOwner(const std::string& display, const std::vector<const char*>& silentFormats,
                           QByteArray pieces = {})
        : m_connection(platform::x11::XcbConnection::open(display.c_str())), m_pieces(std::move(pieces)) {
        if (!m_connection) {
            return;
        }
        xcb_connection_t* c = m_connection->get();
        m_window = xcb_generate_id(c);
        xcb_create_window(c, 0, m_window, platform::x11::rootWindow(c, m_connection->screenNumber()), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        m_clipboard = atom("CLIPBOARD");
        m_targets = atom("TARGETS");
        m_incr = atom("INCR");
        m_piecesTarget = atom(piecesFormat);
        if (!m_pieces.isEmpty()) {
            m_formats.push_back(m_piecesTarget);
        }
        for (const char* format : silentFormats) {
            m_formats.push_back(atom(format));
        }
        xcb_set_selection_owner(c, m_window, m_clipboard, XCB_CURRENT_TIME);
        xcb_flush(c);
        m_thread = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ScriptedClipboardOwner(const ScriptedClipboardOwner&) = delete;
    ScriptedClipboardOwner& operator=(const ScriptedClipboardOwner&) = delete;
    ~ScriptedClipboardOwner() {
        m_thread.request_stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    [[nodiscard]] xcb_window_t window() const { return m_window; }
    [[nodiscard]] int targetsRequests() const { return m_targetsRequests; }
    [[nodiscard]] int formatRequests() const { return m_formatRequests; }
    [[nodiscard]] int piecesSent() const { return m_piecesSent; }

private:
    xcb_atom_t atom(const char* name) const { return platform::x11::internAtom(m_connection->get(), name); }

    // The poll only bounds how late a stop is seen.
    void serve(const std::stop_token& stop) {
        xcb_connection_t* c = m_connection->get();
        while (!stop.stop_requested() && xcb_connection_has_error(c) == 0) {
            while (const platform::x11::XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
                const auto type = event->response_type & 0x7F;
                if (type == XCB_SELECTION_REQUEST) {
                    answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event.get()));
                } else if (type == XCB_PROPERTY_NOTIFY) {
                    sendNextPiece(*reinterpret_cast<const xcb_property_notify_event_t*>(event.get()));
                }
                xcb_flush(c);
            }
            pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&descriptor, 1, 50);
        }
    }

    void answer(const xcb_selection_request_event_t& request) {
        xcb_connection_t* c = m_connection->get();
        if (request.target == m_targets) {
            ++m_targetsRequests;
            std::vector<xcb_atom_t> offered{m_targets};
            offered.insert(offered.end(), m_formats.begin(), m_formats.end());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM, 32,
                                static_cast<std::uint32_t>(offered.size()), offered.data());
        } else if (request.target == m_piecesTarget && !m_pieces.isEmpty()) {
            // The requestor deleting each piece asks for the next one.
            const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
            const auto size = static_cast<std::uint32_t>(m_pieces.size());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, m_incr, 32, 1, &size);
            m_piecesRequestor = request.requestor;
            m_piecesProperty = request.property;
            m_piecesOffset = 0;
        } else {
            ++m_formatRequests;
            return;
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = request.property;
        xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    }

    // The piece after the end is empty, which ends the transfer.
    void sendNextPiece(const xcb_property_notify_event_t& notify) {
        if (m_piecesRequestor == XCB_NONE || notify.window != m_piecesRequestor || notify.atom != m_piecesProperty ||
            notify.state != XCB_PROPERTY_DELETE) {
            return;
        }
        const QByteArray piece = m_pieces.mid(m_piecesOffset, pieceBytes);
        xcb_change_property(m_connection->get(), XCB_PROP_MODE_REPLACE, m_piecesRequestor, m_piecesProperty,
                            m_piecesTarget, 8, static_cast<std::uint32_t>(piece.size()), piece.constData());
        m_piecesOffset += piece.size();
        if (piece.isEmpty()) {
            m_piecesRequestor = XCB_NONE;
        } else {
            ++m_piecesSent;
        }
    }

    std::expected<platform::x11::XcbConnection, std::string> m_connection;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_clipboard = XCB_NONE;
    xcb_atom_t m_targets = XCB_NONE;
    xcb_atom_t m_incr = XCB_NONE;
    xcb_atom_t m_piecesTarget = XCB_NONE;
    std::vector<xcb_atom_t> m_formats;
    QByteArray m_pieces;
    xcb_window_t m_piecesRequestor = XCB_NONE;
    xcb_atom_t m_piecesProperty = XCB_NONE;
    qsizetype m_piecesOffset = 0;
    std::atomic<int> m_piecesSent = 0;
    std::atomic<int> m_targetsRequests = 0;
    std::atomic<int> m_formatRequests = 0;
    std::jthread m_thread;
};

TEST_F(X11SelectionCaptureTest, ClipboardOwnerThatNeverDeliversDoesNotHoldTheCaptureUp) {
    const int before = m_clipboardChanges;
    // Several formats, so that a wait per format would add up to far more than one save's budget.
    ScriptedClipboardOwner owner(s_session->display(), {"text/plain", "UTF8_STRING", "text/html", "image/png",
                                                        "application/x-norik-a", "application/x-norik-b"});
    ASSERT_NE(owner.window(), XCB_NONE);
    ASSERT_TRUE(
        spinUntil([&] { return s_session->clipboardOwner() == owner.window() && m_clipboardChanges > before; }));
    const auto editor = startEditor({"--text", "past the silent owner", "--select"}, false);

    QElapsedTimer clock;
    clock.start();
    std::optional<qint64> elapsed;
    std::optional<QString> text;
    m_capture->capture({}, [&](std::optional<QString> result) {
        elapsed = clock.elapsed();
        text = std::move(result);
    });
    ASSERT_TRUE(spinUntil([&] { return elapsed.has_value(); }));

    EXPECT_EQ(text, "past the silent owner");
    // A functional hang check, not a benchmark: one wait per format would take six budgets, Qt's own reads 5 s each.
    EXPECT_LT(*elapsed, 4000);
    EXPECT_EQ(owner.targetsRequests(), 1);
    EXPECT_GE(owner.formatRequests(), 1);
    EXPECT_EQ(copyKeysReceived(*editor), std::vector<std::string>{ctrlC});
}

TEST_F(X11SelectionCaptureTest, FormatSentInIncrPiecesIsPutBackWhole) {
    QByteArray pieces(10 * ScriptedClipboardOwner::pieceBytes + 123, Qt::Uninitialized);
    for (qsizetype index = 0; index < pieces.size(); ++index) {
        pieces[index] = static_cast<char>((index * 7 + index / 251) & 0xFF);
    }
    const int before = m_clipboardChanges;
    ScriptedClipboardOwner owner(s_session->display(), {}, pieces);
    ASSERT_NE(owner.window(), XCB_NONE);
    ASSERT_TRUE(
        spinUntil([&] { return s_session->clipboardOwner() == owner.window() && m_clipboardChanges > before; }));
    const auto editor = startEditor({"--text", "next to pieces", "--select"}, false);

    EXPECT_EQ(capture(), "next to pieces");

    EXPECT_EQ(owner.piecesSent(), 11);
    const Formats after = clipboardSeenByAnotherClient();
    ASSERT_TRUE(after.contains(ScriptedClipboardOwner::piecesFormat));
    EXPECT_TRUE(after.at(ScriptedClipboardOwner::piecesFormat) == pieces);
}

TEST_F(X11SelectionCaptureTest, RestoreFocusReturnsToTheWindowActiveAtTheCapture) {
    const auto editor = startEditor({"--text", "focus words", "--select"}, false);
    EXPECT_EQ(capture(), "focus words");

    // Norik's own panel takes the focus while it shows the review; openbox gives it to new windows.
    QWidget panel;
    panel.resize(200, 100);
    panel.show();
    ASSERT_TRUE(spinUntil([&] { return panel.isActiveWindow() && s_session->activeWindow() == panel.winId(); }));

    m_capture->restoreFocusFrom(static_cast<xcb_window_t>(panel.winId()));

    EXPECT_TRUE(spinUntil([&] { return s_session->activeWindow() == editor->window(); }));
}

TEST_F(X11SelectionCaptureTest, ApplicationTrustAsksQtsServerForXtest) {
    const auto trust = X11AccessibilityTrust::forApplication();
    ASSERT_NE(trust, nullptr);
    EXPECT_TRUE(trust->isTrusted());
}

// The key that types "c": in the active layout, else in another one, else at the ANSI C position.
TEST(CopyKeyCodesTest, FindsCInTheActiveLayoutThenInAnotherThenFallsBackToTheAnsiPosition) {
    struct Case {
        const char* layouts;
        const char* variants;
        std::uint32_t active;
        xcb_keycode_t c;
    };
    constexpr xcb_keycode_t ansiC = 54;
    constexpr xcb_keycode_t ansiI = 31; // where Dvorak has its "c"
    for (const Case& layout :
         {Case{"us", "", 0, ansiC}, Case{"us", "dvorak", 0, ansiI}, Case{"ru,us", ",dvorak", 0, ansiI},
          Case{"us,ru", "dvorak,", 1, ansiI}, Case{"ru", "", 0, ansiC}, Case{"us,us", ",dvorak", 1, ansiI}}) {
        SCOPED_TRACE(std::string(layout.layouts) + " " + layout.variants);
        const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                                 &xkb_context_unref);
        const xkb_rule_names names{"evdev", "pc105", layout.layouts, layout.variants, ""};
        const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
        ASSERT_NE(keymap, nullptr);

        const CopyKeyCodes codes = copyKeyCodes(keymap.get(), layout.active);

        EXPECT_EQ(codes.c, layout.c);
        EXPECT_EQ(codes.control, 37);
    }
}

TEST(ClipboardSnapshotTest, KeepsContentsAndLeavesOutProtocolTargetsAndQtBookkeeping) {
    QMimeData data;
    data.setData("text/plain", "words");
    data.setData("image/png", QByteArray("\x89PNG\0\1", 6));
    data.setData("x-kde-passwordManagerHint", "secret");
    for (const char* target :
         {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION", "application/x-qt-image"}) {
        data.setData(target, "x");
    }

    const ClipboardSnapshot snapshot = ClipboardSnapshot::take(&data);

    std::map<QString, QByteArray> kept(snapshot.formats().begin(), snapshot.formats().end());
    const std::map<QString, QByteArray> expected{
        {"text/plain", "words"}, {"image/png", QByteArray("\x89PNG\0\1", 6)}, {"x-kde-passwordManagerHint", "secret"}};
    EXPECT_EQ(kept, expected);
    EXPECT_TRUE(snapshot.isSecret());
    const auto written = snapshot.toMimeData();
    EXPECT_EQ(written->data("image/png"), QByteArray("\x89PNG\0\1", 6));
    EXPECT_FALSE(ClipboardSnapshot::take(nullptr).isSecret());
    EXPECT_TRUE(ClipboardSnapshot::take(nullptr).empty());
}

TEST(X11AccessibilityTrustTest, TrustedExactlyWhenTheServerOffersXtest) {
    for (const bool withXtest : {true, false}) {
        SCOPED_TRACE(withXtest ? "with XTEST" : "without XTEST");
        tests::XvfbServer server(withXtest ? std::vector<std::string>{}
                                           : std::vector<std::string>{"-extension", "XTEST"});
        ASSERT_FALSE(server.display().empty());
        auto connection = platform::x11::XcbConnection::open(server.display().c_str());
        ASSERT_TRUE(connection.has_value());
        QStringList explanations;
        X11AccessibilityTrust trust(connection->get(), [&](const QString& message) { explanations.append(message); });

        EXPECT_EQ(trust.isTrusted(), withXtest);
        trust.requestTrust();
        if (withXtest) {
            EXPECT_TRUE(explanations.isEmpty());
        } else {
            ASSERT_EQ(explanations.size(), 1);
            EXPECT_TRUE(explanations.front().contains("XTEST"));
        }
    }
}

} // namespace
} // namespace norik::app
