// SPDX-License-Identifier: GPL-3.0-or-later
// The whole desktop path on a private X server (under the window managers of CMakeLists.txt): norik started as a
// user would, its hot key pressed over another application's selection, the review shown, recorded and dismissed.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <ranges>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "app/capture/CaptureSession.h"
#include "app/presentation/NotchReviewPresenter.h"
#include "platform/x11/XcbHandles.h"

#include "support/LoopbackServer.h"
#include "support/TestFiles.h"
#include "support/TrayHost.h"

namespace norik::app {
namespace {

using platform::x11::XcbReply;
using tests::DesktopSession;
using tests::waitUntil;
using tests::X11Client;

// X key codes (evdev + 8) of Xvfb's default keymap.
enum : xcb_keycode_t { leftControl = 37, leftAlt = 64, space = 65, escape = 9 };
const std::vector<xcb_keycode_t> hotKey{leftControl, leftAlt, space};
constexpr std::int16_t monitorWidth = 1280;
const QRect leftMonitor(0, 0, monitorWidth, 1024);
const QRect rightMonitor(monitorWidth, 0, monitorWidth, 1024);

const QString sentence = QStringLiteral("He go to school every days.");
// A local model server's chat reply whose message is the tutor's answer.
const std::string tutorReply =
    R"({"message":{"role":"assistant","content":"{\"language\":\"en\",\"corrected\":\"He goes to school every )"
    R"(day.\",\"improved\":\"He goes to school every day.\",\"issues\":[{\"excerpt\":\"go\",\"explanation\":)"
    R"(\"The third person singular takes goes.\",\"category\":\"grammar\"}],\"score\":6}"},"done":true})";

class DesktopReviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Keys repeat soon and fast, so that a held hot key repeats while its review runs. Two monitors side by side.
        s_session = std::make_unique<DesktopSession>(
            std::vector<std::string>{"-ardelay", "40", "-arinterval", "20", "-screen", "0", "2560x1024x24"},
            QList<QRect>{leftMonitor, rightMonitor});
        s_tray = std::make_unique<tests::TrayHost>(s_session->display());
    }
    static void TearDownTestSuite() {
        s_tray.reset();
        s_session.reset();
    }

    void SetUp() override {
        ASSERT_EQ(s_session->error() + s_tray->error(), "");
        m_server.respond("POST", "/api/chat", 200, tutorReply);
        // On the display DesktopSession set; the user's session bus and keyring stay out, and the local provider
        // needs no key.
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "DESKTOP_STARTUP_ID",
                                 "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            m_environment.remove(QString::fromLatin1(name));
        }
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_RUNTIME_DIR", m_home.path()); // private, as a runtime folder must be
        // A user who went through the first-run window, which would otherwise take the focus from the editor.
        for (const auto& [key, value] : {std::pair{"provider", QStringLiteral("local")},
                                         {"model.local", "llama3"},
                                         {"localEndpoint", QString::fromStdString(m_server.baseUrl())},
                                         {"hasCompletedOnboarding", "true"}}) {
            ASSERT_TRUE(norik({"config", "set", key, value}));
        }
        m_editor = std::make_unique<tests::Editor>(*s_session, QStringList{"--text", sentence, "--select"});
        ASSERT_TRUE(m_editor->ready());
    }

    // Standard output of a command that exited with 0.
    std::optional<QByteArray> norik(const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(NORIK_E2E_NORIK), arguments);
        const bool exited = process.waitForFinished(30'000) && process.exitStatus() == QProcess::NormalExit;
        return exited && process.exitCode() == 0 ? std::optional(process.readAllStandardOutput()) : std::nullopt;
    }

    // Starts norik and waits until it holds its hot key, the last thing it sets up: another client's grab of it
    // then fails. Probing now and then rather than at every turn keeps the chance of a clash with norik's own low.
    void startNorik() {
        const QProcess& norik =
            m_norik.emplace(QStringLiteral(NORIK_E2E_NORIK), QStringList{}, QString(), m_environment).process();
        QElapsedTimer sinceProbe;
        ASSERT_TRUE(waitUntil([&] {
            if (norik.state() == QProcess::NotRunning || (sinceProbe.isValid() && sinceProbe.elapsed() < 100)) {
                return norik.state() == QProcess::NotRunning;
            }
            sinceProbe.start();
            return !s_session->canGrab(space, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
        }));
        ASSERT_EQ(norik.state(), QProcess::Running) << "norik ended before it took the hot key";
    }

    // The keys go up once a panel has the focus, as a user's fingers leave them when it shows.
    static void pressHotKey() {
        s_session->press(hotKey);
        EXPECT_TRUE(waitUntil([] {
            const std::vector<xcb_window_t> panels = norikWindows();
            return !panels.empty() && s_session->activeWindow() == panels.front();
        })) << "no panel took the focus";
        s_session->press(hotKey, false);
    }

    // On the keyboard device, as a user's own key: Norik rightly ignores keys typed through XTEST elsewhere.
    static void pressEscape() {
        ASSERT_TRUE(s_session->press({escape}, true, true) && s_session->press({escape}, false, true));
    }

    // Launches the next norik command as `launcher` does, stamped with now on the X server's clock: the time of a
    // property change, seen on a connection of its own, since Qt reads the events of its own.
    QByteArray launchFrom(const QByteArray& launcher) {
        auto connection = platform::x11::XcbConnection::open(s_session->display().c_str());
        xcb_connection_t* c = connection->get();
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, s_session->root(), XCB_CW_EVENT_MASK, &mask);
        xcb_change_property(c, XCB_PROP_MODE_APPEND, s_session->root(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
        xcb_flush(c);
        XcbReply<xcb_generic_event_t> event(xcb_wait_for_event(c));
        while (event && (event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) {
            event.reset(xcb_wait_for_event(c));
        }
        const auto* changed = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        const QByteArray launch = launcher + "_TIME" + QByteArray::number(changed ? changed->time : XCB_CURRENT_TIME);
        m_environment.insert("DESKTOP_STARTUP_ID", QString::fromLatin1(launch));
        return launch;
    }

    // The windows of this name (and width) that the window manager lists.
    static std::vector<xcb_window_t> norikWindows(const QByteArray& name = "Norik", int width = 0) {
        std::vector<xcb_window_t> found;
        for (const xcb_window_t window : s_session->values(s_session->root(), "_NET_CLIENT_LIST")) {
            const XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
                s_session->connection(), xcb_get_geometry(s_session->connection(), window), nullptr));
            if (geometry && s_session->bytes(window, "_NET_WM_NAME") == name &&
                (width == 0 || geometry->width == width)) {
                found.push_back(window);
            }
        }
        return found;
    }

    // A window of this name (and width) once it is up; XCB_NONE when it never is.
    static xcb_window_t shown(const QByteArray& name, int width = 0) {
        std::vector<xcb_window_t> windows;
        waitUntil([&] { return !(windows = norikWindows(name, width)).empty(); });
        return windows.empty() ? XCB_NONE : windows.front();
    }

    // The rectangles of a window's outline, in its own pixels.
    static std::vector<xcb_rectangle_t> outline(xcb_window_t window) {
        xcb_connection_t* c = s_session->connection();
        const XcbReply<xcb_shape_get_rectangles_reply_t> shape(
            xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING), nullptr));
        if (!shape) {
            return {};
        }
        const std::span rectangles(xcb_shape_get_rectangles_rectangles(shape.get()),
                                   static_cast<std::size_t>(xcb_shape_get_rectangles_rectangles_length(shape.get())));
        return {rectangles.begin(), rectangles.end()};
    }
    // Where a panel ends up on the screen: the animation runs towards the size its outline was cut for.
    static QRect finalPlace(xcb_window_t panel) {
        xcb_connection_t* c = s_session->connection();
        const XcbReply<xcb_translate_coordinates_reply_t> at(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, panel, s_session->root(), 0, 0), nullptr));
        QRect place;
        for (const xcb_rectangle_t& part : outline(panel)) {
            place |= QRect(part.x, part.y, part.width, part.height);
        }
        return at ? place.translated(at->dst_x, at->dst_y) : QRect();
    }

    // The request number `count` reached the model server with `selection` in it.
    void expectSent(const QString& selection = sentence, std::size_t count = 1) {
        ASSERT_TRUE(waitUntil([&] { return m_server.requests().size() >= count; })) << "request " << count;
        ASSERT_EQ(m_server.requests().size(), count);
        EXPECT_TRUE(QByteArray::fromStdString(m_server.requests().back().body).contains(selection.toUtf8()));
    }

    static inline std::unique_ptr<DesktopSession> s_session;
    static inline std::unique_ptr<tests::TrayHost> s_tray;
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    test::LoopbackServer m_server;
    std::unique_ptr<tests::Editor> m_editor;
    // Killed at the end of each test, before the editor and the server go.
    std::optional<tests::ClientProcess> m_norik;
};

// Watches the root window on a connection of its own: the server's time of a key's first press (raw key events
// reach every client that asks, grabbed or not), and whether a client then asked for a window's activation as of
// that moment, as an application (source 1).
class ActivationWatch {
public:
    ActivationWatch(const std::string& display, xcb_keycode_t key)
        : m_connection(*platform::x11::XcbConnection::open(display.c_str())), m_key(key) {
        xcb_connection_t* c = m_connection.get();
        const X11Client client(c);
        m_activate = client.atom("_NET_ACTIVE_WINDOW");
        XcbReply<xcb_input_xi_query_version_reply_t>(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t bits;
        } raw{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
        xcb_input_xi_select_events(c, client.root(), 1, &raw.head);
        const std::uint32_t notify = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, client.root(), XCB_CW_EVENT_MASK, &notify);
        XcbReply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    [[nodiscard]] bool activatedAsOfPress(xcb_window_t window) {
        return waitUntil([&] {
            while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection.get())}) {
                const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event.get());
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
                if (event->response_type == XCB_GE_GENERIC && raw->event_type == XCB_INPUT_RAW_KEY_PRESS &&
                    raw->detail == m_key && !m_pressed) {
                    m_pressed = raw->time;
                } else if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == m_activate &&
                           message->window == window && message->data.data32[0] == 1 && m_pressed &&
                           message->data.data32[1] == *m_pressed) {
                    return true;
                }
            }
            return false;
        });
    }

private:
    platform::x11::XcbConnection m_connection;
    xcb_keycode_t m_key;
    xcb_atom_t m_activate = XCB_ATOM_NONE;
    std::optional<std::uint32_t> m_pressed;
};

TEST_F(DesktopReviewTest, AHotKeyHeldOnTheKeyboardReviewsOnceShowsRecordsAndEscapeGivesTheFocusBack) {
    ASSERT_NO_FATAL_FAILURE(startNorik());
    ActivationWatch watch(s_session->display(), space);
    ASSERT_TRUE(s_session->press(hotKey, true, true));
    ASSERT_NO_FATAL_FAILURE(expectSent());
    const xcb_window_t panel = shown("Norik", NotchReviewPresenter::kResultWidth);
    ASSERT_NE(panel, XCB_NONE) << "no result panel";
    // Window managers that refuse activations with stale times judge the press, not the later copy.
    EXPECT_TRUE(watch.activatedAsOfPress(panel)) << "the panel did not ask for the focus as of the hot key";
    EXPECT_TRUE(waitUntil([&] {
        const QList<xcb_atom_t> state = s_session->values(panel, "_NET_WM_STATE");
        const bool everywhere = state.contains(s_session->atom("_NET_WM_STATE_STICKY")) ||
                                s_session->value(panel, "_NET_WM_DESKTOP") == 0xFFFFFFFFU;
        return everywhere && state.contains(s_session->atom("_NET_WM_STATE_ABOVE"));
    })) << "the panel is not on every workspace and above";
    EXPECT_TRUE(waitUntil([&] {
        const QJsonArray recorded = QJsonDocument::fromJson(norik({"history", "--json"}).value_or("")).array();
        return recorded.size() == 1 && recorded[0]["source"] == sentence && recorded[0]["score"] == 6;
    })) << "the review is not in the history";
    ASSERT_TRUE(s_session->press(hotKey, false, true));
    pressEscape();
    EXPECT_TRUE(waitUntil([] { return norikWindows().empty(); })) << "Escape left the panel up";
    EXPECT_TRUE(waitUntil([&] { return s_session->activeWindow() == m_editor->window(); })) << "the focus stayed away";
    EXPECT_EQ(m_server.requests().size(), 1U) << "the held hot key reviewed again";
}

// The three ways a press went astray: lost after a terminal's review, a selection its application had already
// copied taken for none, and Escape pressed in the window the user moved on to sending the focus back.
TEST_F(DesktopReviewTest, AfterATerminalReviewAndEscapeInTheWindowTheUserMovedOnToItsCopiedSelectionIsReviewed) {
    ASSERT_NO_FATAL_FAILURE(startNorik());
    const tests::Terminal terminal(*s_session, QStringLiteral("terminal words"));
    ASSERT_TRUE(terminal.ready());
    pressHotKey();
    ASSERT_NO_FATAL_FAILURE(expectSent(QStringLiteral("terminal words")));
    ASSERT_NE(shown("Norik", NotchReviewPresenter::kResultWidth), XCB_NONE);

    tests::ClientProcess copied(QStringLiteral("wish"),
                                {QStringLiteral(NORIK_CAPTURE_COPIED_EDITOR), "-name", "tkeditor", sentence});
    ASSERT_TRUE(copied.waitForLine("focused"));
    ASSERT_TRUE(waitUntil([] { return s_session->windowClass(s_session->activeWindow()) == "Tkeditor"; }));
    const xcb_window_t movedOnTo = s_session->activeWindow();
    pressEscape();
    // The window manager drops the panel from its list after it has handled whatever Norik asked before.
    ASSERT_TRUE(waitUntil([] { return norikWindows().empty(); })) << "Escape left the panel up";
    EXPECT_EQ(s_session->activeWindow(), movedOnTo);
    pressHotKey();
    ASSERT_NO_FATAL_FAILURE(expectSent(sentence, 2));
}

TEST_F(DesktopReviewTest, AnotherStartRaisesTheSettingsOfTheRunningNorikWhereTheHotKeyStillCountsAtTwiceTheScale) {
    m_environment.insert("QT_SCALE_FACTOR", "2");
    ASSERT_NO_FATAL_FAILURE(startNorik());
    // Started by a launcher, whose launch the settings window completes.
    const QByteArray launch = launchFrom("launcher-e2e");
    EXPECT_TRUE(norik({}));
    const xcb_window_t settings = shown("Norik Settings");
    ASSERT_NE(settings, XCB_NONE) << "no settings window";
    EXPECT_EQ(s_session->bytes(settings, "_NET_STARTUP_ID"), launch);
    EXPECT_TRUE(waitUntil([&] { return s_session->activeWindow() == settings; })) << "the launch left it behind";

    // With another application in front, asking again brings the one window back to the front.
    ASSERT_TRUE(s_session->bringForward([&](xcb_window_t active) { return active == m_editor->window(); }));
    EXPECT_TRUE(norik({"settings"}));
    EXPECT_TRUE(waitUntil([&] { return s_session->activeWindow() == settings; })) << "the settings stayed behind";
    EXPECT_EQ(norikWindows("Norik Settings").size(), 1U) << "a second settings window opened";

    // Nothing is selected in Norik's own window.
    pressHotKey();
    const xcb_window_t notice = shown("Norik", 2 * NotchReviewPresenter::kNoticeWidth);
    ASSERT_NE(notice, XCB_NONE) << "the hot key did nothing";
    // Cut to its outline in the screen's own pixels: an edge at an odd pixel exists only at that precision.
    const std::vector<xcb_rectangle_t> rectangles = outline(notice);
    ASSERT_FALSE(rectangles.empty());
    EXPECT_TRUE(std::ranges::any_of(rectangles, [](const xcb_rectangle_t& rect) { return rect.x % 2 == 1; }));
    EXPECT_EQ(std::ranges::max(rectangles | std::views::transform([](const auto& r) { return r.x + r.width; })),
              2 * NotchReviewPresenter::kNoticeWidth);
}

// Without a history, as when its folder cannot be made: the user hears of it once, not at every review.
TEST_F(DesktopReviewTest, TheTriggerCommandOfALaunchReviewsInAPanelInFrontAndALostHistoryIsToldInTheTrayOnce) {
    tests::writeFile(m_home.filePath(".local/share").toStdString(), "");
    ASSERT_NO_FATAL_FAILURE(startNorik());
    // Without a desktop notification service Qt shows each message of the tray in a tooltip window of Norik's.
    std::set<xcb_window_t> told;
    const auto watch = [&] {
        xcb_connection_t* c = s_session->connection();
        const XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, s_session->root()), nullptr));
        for (const xcb_window_t window :
             std::span(xcb_query_tree_children(tree.get()),
                       static_cast<std::size_t>(xcb_query_tree_children_length(tree.get())))) {
            const XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                s_session->values(window, "_NET_WM_WINDOW_TYPE")
                    .contains(s_session->atom("_NET_WM_WINDOW_TYPE_TOOLTIP"))) {
                told.insert(window);
            }
        }
        return !told.empty();
    };
    ASSERT_TRUE(waitUntil(watch)) << "no tray message";

    const QByteArray launch = launchFrom("launcher-trigger");
    EXPECT_TRUE(norik({"trigger"}));
    ASSERT_NO_FATAL_FAILURE(expectSent());
    const xcb_window_t panel = shown("Norik", NotchReviewPresenter::kResultWidth);
    ASSERT_NE(panel, XCB_NONE) << "no result panel";
    EXPECT_EQ(s_session->bytes(panel, "_NET_STARTUP_ID"), launch);
    EXPECT_TRUE(waitUntil([&] { return s_session->activeWindow() == panel; })) << "the panel stayed behind";
    // A message told again would replace the first, which stays up far longer than a review takes.
    watch();
    EXPECT_EQ(told.size(), 1U);
}

// A dock along the top of the left-hand monitor only, as a desktop's bar on one of two screens: the panel drops on
// the monitor under the pointer, below the dock there and from the very top of the other.
TEST_F(DesktopReviewTest, OnTwoMonitorsThePanelDropsOnThePointersOneBelowTheDockThatIsOnlyThere) {
    constexpr std::uint16_t dockHeight = 40;
    xcb_connection_t* c = s_session->connection();
    const xcb_window_t dock = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, dock, s_session->root(), 0, 0, monitorWidth, dockHeight, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t dockType = s_session->atom("_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, dock, s_session->atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1,
                        &dockType);
    // Left, right, top, bottom; then the extent of each along its edge: the top one spans the left monitor.
    const std::array<std::uint32_t, 12> strut{0, 0, dockHeight, 0, 0, 0, 0, 0, 0, monitorWidth - 1, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, dock, s_session->atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32,
                        strut.size(), strut.data());
    xcb_map_window(c, dock);
    xcb_flush(c);
    ASSERT_TRUE(waitUntil([&] { return s_session->values(s_session->root(), "_NET_CLIENT_LIST").contains(dock); }));
    ASSERT_NO_FATAL_FAILURE(startNorik());

    // The place of the next result panel once it is up, with the pointer at `x` on the screen.
    const auto reviewAt = [&](std::int16_t x, std::size_t count) {
        s_session->point(XCB_NONE, x, 500);
        pressHotKey();
        QRect place;
        EXPECT_NO_FATAL_FAILURE(expectSent(sentence, count));
        EXPECT_TRUE(waitUntil(
            [&] { return !(place = finalPlace(shown("Norik", NotchReviewPresenter::kResultWidth))).isEmpty(); }));
        return place;
    };
    const QRect onLeft = reviewAt(300, 1);
    EXPECT_EQ(onLeft.top(), dockHeight);
    EXPECT_NEAR(onLeft.center().x(), leftMonitor.center().x(), 1);
    pressEscape();
    ASSERT_TRUE(waitUntil([&] { return norikWindows().empty() && s_session->activeWindow() == m_editor->window(); }));
    const QRect onRight = reviewAt(2000, 2);
    EXPECT_EQ(onRight.height(), onLeft.height()) << "an empty band under the dock";
    // xfwm4 and KWin count a monitor per RandR output, and Xvfb has one, which the left monitor takes.
    if (qEnvironmentVariable("NORIK_TEST_WINDOW_MANAGER", QStringLiteral("openbox")) == QLatin1String("openbox")) {
        EXPECT_LE(onRight.top(), 0);
        EXPECT_NEAR(onRight.center().x(), rightMonitor.center().x(), 1);
    }
}

} // namespace
} // namespace norik::app
