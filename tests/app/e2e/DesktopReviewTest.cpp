// SPDX-License-Identifier: GPL-3.0-or-later
// The whole desktop path on a private X server: norik started as a user would, its hot key pressed
// over another application's selection, the review fetched from a local model server, shown, recorded
// and dismissed, with the focus handed back.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include "app/capture/CaptureSession.h"
#include "platform/x11/XcbHandles.h"

#include "support/LoopbackServer.h"
#include "support/TrayHost.h"

namespace norik::app {
namespace {

using platform::x11::XcbReply;
using tests::DesktopSession;
using tests::Editor;
using tests::eventTimeout;
using tests::spinUntil;
using tests::TrayHost;

// X key codes (evdev + 8) of Xvfb's default keymap.
constexpr xcb_keycode_t leftControl = 37;
constexpr xcb_keycode_t leftAlt = 64;
constexpr xcb_keycode_t space = 65;
constexpr xcb_keycode_t escape = 9;
constexpr xcb_keycode_t returnKey = 36;
constexpr xcb_keycode_t keyX = 53;

constexpr int loadingWidth = 240;
constexpr int resultWidth = 420;
constexpr int errorWidth = 320;
constexpr int noticeWidth = 300;
const QByteArray settingsTitle = QByteArrayLiteral("Norik Settings");

const QString sentence = QStringLiteral("He go to school every days.");
const QString corrected = QStringLiteral("He goes to school every day.");

std::string tutorReply() {
    const QJsonObject issue{
        {"excerpt", "go"}, {"explanation", "The third person singular takes goes."}, {"category", "grammar"}};
    const QJsonObject tutor{{"language", "en"},
                            {"corrected", corrected},
                            {"improved", "He goes to school every day."},
                            {"issues", QJsonArray{issue}},
                            {"score", 6}};
    const QJsonObject reply{
        {"message", QJsonObject{{"role", "assistant"},
                                {"content", QString::fromUtf8(QJsonDocument(tutor).toJson(QJsonDocument::Compact))}}},
        {"done", true}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString();
}

struct Window {
    xcb_window_t id = XCB_NONE;
    int width = 0;
    int height = 0;
};

class DesktopReviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Keys repeat soon and fast, so that a held hot key repeats while its review runs.
        s_session = std::make_unique<DesktopSession>(std::vector<std::string>{"-ardelay", "40", "-arinterval", "20"});
        s_tray = std::make_unique<TrayHost>(s_session->display());
    }
    static void TearDownTestSuite() {
        s_tray.reset();
        s_session.reset();
    }

    void SetUp() override {
        ASSERT_EQ(s_session->error(), "");
        ASSERT_EQ(s_tray->error(), "");
        s_tray->reset();
        ASSERT_TRUE(m_home.isValid());
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        m_environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        m_environment.insert("XDG_CACHE_HOME", m_home.filePath("cache"));
        ASSERT_TRUE(QDir(m_home.path()).mkdir(QStringLiteral("runtime")));
        ASSERT_TRUE(
            QFile::setPermissions(m_home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        m_environment.insert("DISPLAY", QString::fromStdString(s_session->display()));
        m_environment.insert("QT_QPA_PLATFORM", "xcb");
        m_environment.remove("WAYLAND_DISPLAY");
        m_environment.remove("XDG_SESSION_TYPE");
        m_norik.setProcessChannelMode(QProcess::ForwardedChannels);
        // The user's session bus and keyring stay out of the test; the local provider needs no key.
        m_environment.remove("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_EQ(norikCommand({"config", "set", "provider", "local"}).exitCode, 0);
        ASSERT_EQ(norikCommand({"config", "set", "localEndpoint", QString::fromStdString(m_server.baseUrl())}).exitCode,
                  0);
        ASSERT_EQ(norikCommand({"config", "set", "model.local", "llama3"}).exitCode, 0);
        // A user who went through the first-run window, which would otherwise take the focus from the editor.
        ASSERT_EQ(norikCommand({"config", "set", "hasCompletedOnboarding", "true"}).exitCode, 0);

        m_editor = std::make_unique<Editor>(*s_session, QStringList{"--text", sentence, "--select"});
        ASSERT_TRUE(m_editor->ready());
    }

    void TearDown() override {
        if (m_norik.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(m_norik.processId()), SIGTERM);
            if (!m_norik.waitForFinished(10'000)) {
                ::kill(static_cast<pid_t>(m_norik.processId()), SIGKILL);
                m_norik.waitForFinished(10'000);
            }
        }
        m_editor.reset();
    }

    struct Result {
        int exitCode = -1;
        QByteArray out;
    };

    Result norikCommand(const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(NORIK_E2E_NORIK), arguments);
        const bool finished =
            process.waitForFinished(static_cast<int>(std::chrono::milliseconds(eventTimeout).count()));
        if (!finished || process.exitStatus() != QProcess::NormalExit) {
            return {};
        }
        const QByteArray errors = process.readAllStandardError();
        if (!errors.isEmpty()) {
            std::fputs(errors.constData(), stderr);
        }
        return {process.exitCode(), process.readAllStandardOutput()};
    }

    void startNorik() {
        m_norik.setProcessEnvironment(m_environment);
        // A crashed test must not leave a tray app holding the hot key on a shared machine.
        m_norik.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_norik.start(QStringLiteral(NORIK_E2E_NORIK), QStringList{});
    }

    // The hot key is taken when another client's passive grab makes ours fail with BadAccess. Our grab
    // and its release go out together so that, should norik grab meanwhile, the window for a clash is
    // a single batch of requests in the server.
    static bool hotKeyGrabbedByAnother() {
        xcb_connection_t* connection = s_session->connection();
        const auto modifiers = static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
        const xcb_void_cookie_t grab = xcb_grab_key_checked(connection, 0, s_session->root(), modifiers, space,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_ungrab_key(connection, space, s_session->root(), modifiers);
        xcb_generic_error_t* error = xcb_request_check(connection, grab);
        const bool taken = error != nullptr && error->error_code == XCB_ACCESS;
        std::free(error);
        return taken;
    }

    // The keys go up once `released` holds, as a user's fingers leave them when the panel shows.
    static void pressHotKey(const std::function<bool()>& released = [] { return true; }) {
        for (const xcb_keycode_t key : {leftControl, leftAlt, space}) {
            s_session->fakeKey(XCB_KEY_PRESS, key);
        }
        EXPECT_TRUE(spinUntil(released));
        for (const xcb_keycode_t key : {space, leftAlt, leftControl}) {
            s_session->fakeKey(XCB_KEY_RELEASE, key);
        }
    }

    // On the keyboard device, as a user's own key: Norik rightly ignores keys typed through XTEST elsewhere.
    static void pressEscape() {
        ASSERT_TRUE(s_session->fakeDeviceKey(XCB_INPUT_DEVICE_KEY_PRESS, escape));
        ASSERT_TRUE(s_session->fakeDeviceKey(XCB_INPUT_DEVICE_KEY_RELEASE, escape));
    }

    // Now on the X server's clock, as a launcher stamps a launch: the time of a property change, seen on a
    // connection of its own, since Qt reads the events of its own.
    static std::uint32_t serverTime() {
        xcb_connection_t* connection = xcb_connect(s_session->display().c_str(), nullptr);
        const xcb_window_t window = xcb_generate_id(connection);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, s_session->root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
        xcb_flush(connection);
        std::uint32_t time = XCB_CURRENT_TIME;
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
            const bool found = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
            if (found) {
                time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
            }
            std::free(event);
            if (found) {
                break;
            }
        }
        xcb_disconnect(connection);
        return time;
    }

    static QByteArray windowText(xcb_window_t window, const char* property) {
        xcb_connection_t* connection = s_session->connection();
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, window, s_session->atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr));
        return reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                  xcb_get_property_value_length(reply.get()))
                     : QByteArray();
    }

    static QByteArray windowName(xcb_window_t window) {
        xcb_connection_t* connection = s_session->connection();
        const xcb_atom_t netName = s_session->atom("_NET_WM_NAME");
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, netName, XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr));
        if (!reply) {
            return {};
        }
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                xcb_get_property_value_length(reply.get())};
    }

    // Every viewable window of this name, wherever the window manager has put it in the tree, apart from the
    // tray icon (named after the application too).
    static std::vector<Window> norikWindows(const QByteArray& name = QByteArrayLiteral("Norik")) {
        const std::optional<TrayHost::Icon> icon = s_tray->icon();
        xcb_connection_t* connection = s_session->connection();
        std::vector<Window> found;
        std::vector<xcb_window_t> pending{s_session->root()};
        while (!pending.empty()) {
            const xcb_window_t window = pending.back();
            pending.pop_back();
            const XcbReply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
            if (!tree) {
                continue;
            }
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree.get()));
            if (window == s_session->root() || (icon && window == icon->window) || windowName(window) != name) {
                continue;
            }
            const XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr));
            const XcbReply<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
            if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
                found.push_back({window, geometry->width, geometry->height});
            }
        }
        return found;
    }

    static std::optional<Window> panelOfWidth(int width) {
        for (const Window& window : norikWindows()) {
            if (window.width == width) {
                return window;
            }
        }
        return std::nullopt;
    }

    // Waits for the panel of this width to stop growing, so that the picture shows it whole: the same
    // height for longer than several frames of its animation.
    static std::optional<Window> settledPanel(int width) {
        std::optional<Window> current;
        QElapsedTimer unchanged;
        const bool settled = spinUntil([&] {
            const std::optional<Window> next = panelOfWidth(width);
            if (!next || !current || next->height != current->height) {
                unchanged.start();
            }
            current = next;
            return current && unchanged.elapsed() >= 200;
        });
        return settled ? current : std::nullopt;
    }

    static bool saveScreenshot(const QString& name) {
        xcb_connection_t* connection = s_session->connection();
        const XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, s_session->root()), nullptr));
        if (!geometry) {
            return false;
        }
        const XcbReply<xcb_get_image_reply_t> image(
            xcb_get_image_reply(connection,
                                xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, s_session->root(), 0, 0,
                                              geometry->width, geometry->height, ~0U),
                                nullptr));
        if (!image || image->depth != 24) {
            return false;
        }
        // Xvfb's 24-bit visual keeps each pixel in 32 bits, blue first: QImage's RGB32 in memory.
        const QImage picture(xcb_get_image_data(image.get()), geometry->width, geometry->height,
                             static_cast<qsizetype>(geometry->width) * 4, QImage::Format_RGB32);
        return picture.copy().save(QDir(QStringLiteral(NORIK_E2E_ARTIFACTS)).filePath(name), "PNG");
    }

    QJsonArray history() {
        const Result result = norikCommand({"history", "--json"});
        return result.exitCode == 0 ? QJsonDocument::fromJson(result.out).array() : QJsonArray{};
    }

    // Starts norik and waits until it holds its hot key, the last thing it sets up.
    void startNorikAndWaitForHotKey() {
        startNorik();
        ASSERT_TRUE(m_norik.waitForStarted(static_cast<int>(std::chrono::milliseconds(eventTimeout).count())));
        // Probing now and then rather than at every turn keeps the chance of a clash with norik's own grab low.
        QElapsedTimer sinceProbe;
        sinceProbe.start();
        ASSERT_TRUE(spinUntil([&] {
            if (m_norik.state() == QProcess::NotRunning) {
                return true;
            }
            if (sinceProbe.elapsed() < 100) {
                return false;
            }
            sinceProbe.restart();
            return hotKeyGrabbedByAnother();
        }));
        ASSERT_EQ(m_norik.state(), QProcess::Running) << "norik ended before it took the hot key";
    }

    // Starts norik, waits for its hot key and presses it over the editor's selection.
    void reviewSelection() {
        ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
        pressHotKey();
        ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent());
    }

    // The request number `count` reached the model server with `text` in it.
    void expectTheSelectionSent(const QString& text = sentence, std::size_t count = 1) {
        ASSERT_TRUE(spinUntil([&] { return m_server.requests().size() >= count; }))
            << "request " << count << " did not reach the model server";
        const std::vector<test::RecordedRequest> requests = m_server.requests();
        ASSERT_EQ(requests.size(), count);
        const test::RecordedRequest& request = requests.back();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/api/chat");
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        EXPECT_EQ(body.value("model").toString(), "llama3");
        QString userMessage;
        for (const auto message : body.value("messages").toArray()) {
            if (message.toObject().value("role") == "user") {
                userMessage = message.toObject().value("content").toString();
            }
        }
        EXPECT_TRUE(userMessage.contains(text)) << userMessage.toStdString();
    }

    void dismissAndExpectFocusBack() {
        pressEscape();
        EXPECT_TRUE(spinUntil([] { return norikWindows().empty(); })) << "Escape left the panel up";
        EXPECT_TRUE(spinUntil([&] { return s_session->activeWindow() == m_editor->window(); }))
            << "the editor did not get the focus back";
    }

    static inline std::unique_ptr<DesktopSession> s_session;
    static inline std::unique_ptr<TrayHost> s_tray;
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    test::LoopbackServer m_server;
    std::unique_ptr<Editor> m_editor;
    QProcess m_norik;
};

TEST_F(DesktopReviewTest, HotKeyReviewsTheSelectionShowsRecordsAndEscapeGivesTheFocusBack) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(reviewSelection());

    const std::optional<Window> panel = settledPanel(resultWidth);
    ASSERT_TRUE(panel.has_value()) << "no result panel " << resultWidth << " pixels wide";
    EXPECT_FALSE(panelOfWidth(loadingWidth).has_value());
    EXPECT_TRUE(saveScreenshot(QStringLiteral("e2e-result-panel.png")));
    // On every workspace and above other windows.
    EXPECT_TRUE(spinUntil([&] {
        const QList<xcb_atom_t> state = s_session->windowAtoms(panel->id, "_NET_WM_STATE");
        const bool everywhere =
            state.contains(s_session->atom("_NET_WM_STATE_STICKY")) ||
            s_session->windowProperty(panel->id, s_session->atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL) == 0xFFFFFFFFU;
        return everywhere && state.contains(s_session->atom("_NET_WM_STATE_ABOVE"));
    })) << "the panel is not sticky and above";

    QJsonArray recorded;
    EXPECT_TRUE(spinUntil([&] {
        recorded = history();
        return !recorded.isEmpty();
    })) << "the review is not in the history";
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorded[0].toObject().value("source").toString(), sentence);
    EXPECT_EQ(recorded[0].toObject().value("corrected").toString(), corrected);
    EXPECT_EQ(recorded[0].toObject().value("score").toInt(), 6);

    dismissAndExpectFocusBack();
    EXPECT_EQ(m_norik.state(), QProcess::Running);
}

TEST_F(DesktopReviewTest, AfterATerminalReviewTheNextPressReviewsAnotherWindow) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    const tests::Terminal terminal(*s_session, QStringLiteral("terminal words"));
    ASSERT_TRUE(terminal.ready());
    pressHotKey([] {
        const std::vector<Window> panels = norikWindows();
        return !panels.empty() && s_session->activeWindow() == panels.front().id;
    });
    ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent(QStringLiteral("terminal words")));
    ASSERT_TRUE(settledPanel(resultWidth).has_value());
    pressEscape();
    ASSERT_TRUE(spinUntil([] { return norikWindows().empty(); })) << "Escape left the panel up";

    s_session->activate(m_editor->window());
    ASSERT_TRUE(spinUntil([&] { return s_session->activeWindow() == m_editor->window(); }));
    pressHotKey();
    ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent(sentence, 2));
}

TEST_F(DesktopReviewTest, AHotKeyHeldPastTheRepeatDelayTypesNothingIntoTheSelectionAndReviewsOnce) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    for (const xcb_keycode_t key : {leftControl, leftAlt, space}) {
        ASSERT_TRUE(s_session->fakeDeviceKey(XCB_INPUT_DEVICE_KEY_PRESS, key));
    }
    ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent());
    ASSERT_TRUE(settledPanel(resultWidth).has_value());
    for (const xcb_keycode_t key : {space, leftAlt, leftControl}) {
        ASSERT_TRUE(s_session->fakeDeviceKey(XCB_INPUT_DEVICE_KEY_RELEASE, key));
    }
    dismissAndExpectFocusBack();
    // A key typed after the release: every key the hold could have typed reaches the editor before it.
    s_session->fakeKey(XCB_KEY_PRESS, keyX);
    s_session->fakeKey(XCB_KEY_RELEASE, keyX);
    ASSERT_TRUE(m_editor->process().waitForLine("key " + QByteArray::number(Qt::Key_X) + " 0"));

    std::vector<std::string> typed;
    for (const QByteArray& line : m_editor->process().lines()) {
        const int key = line.startsWith("key ") ? line.split(' ').value(1).toInt() : 0;
        if (key != 0 && key != Qt::Key_Control && key != Qt::Key_Alt) {
            typed.push_back(line.toStdString());
        }
    }
    const std::string ctrlC = "key " + std::to_string(static_cast<int>(Qt::Key_C)) + " " +
                              std::to_string(static_cast<int>(Qt::ControlModifier));
    const std::string x = "key " + std::to_string(static_cast<int>(Qt::Key_X)) + " 0";
    EXPECT_EQ(typed, (std::vector<std::string>{ctrlC, x}));
    EXPECT_EQ(m_server.requests().size(), 1U);
}

TEST_F(DesktopReviewTest, ASelectionTheApplicationAlreadyCopiedIsReviewed) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    tests::ClientProcess editor(QStringLiteral("wish"),
                                {QStringLiteral(NORIK_CAPTURE_COPIED_EDITOR), "-name", "tkeditor", sentence});
    ASSERT_TRUE(editor.waitForLine("focused"));
    ASSERT_TRUE(spinUntil([] { return s_session->windowClass(s_session->activeWindow()) == "Tkeditor"; }));

    pressHotKey();

    ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent());
}

TEST_F(DesktopReviewTest, EscapeInTheWindowTheUserMovedOnToClosesThePanelAndLeavesTheFocusThere) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(reviewSelection());
    const std::optional<Window> panel = settledPanel(resultWidth);
    ASSERT_TRUE(panel.has_value());
    const Editor other(*s_session, QStringList{"--text", "elsewhere"});
    ASSERT_TRUE(other.ready());

    // The window manager drops the panel from its list after it has handled whatever Norik asked before.
    const auto listed = [&] {
        const xcb_atom_t clientList = s_session->atom("_NET_CLIENT_LIST");
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            s_session->connection(),
            xcb_get_property(s_session->connection(), 0, s_session->root(), clientList, XCB_ATOM_WINDOW, 0, 1024),
            nullptr));
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
        return std::ranges::find(windows, windows + xcb_get_property_value_length(reply.get()) / 4, panel->id) !=
               windows + xcb_get_property_value_length(reply.get()) / 4;
    };
    ASSERT_TRUE(listed());
    pressEscape();
    ASSERT_TRUE(spinUntil([&] { return !listed(); })) << "Escape left the panel up";
    const XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(s_session->connection(), xcb_get_input_focus(s_session->connection()), nullptr));
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->focus, other.window());
    EXPECT_EQ(s_session->activeWindow(), other.window());
}

TEST_F(DesktopReviewTest, AFailingModelServerShowsTheErrorPanelAndRecordsNothing) {
    m_environment.insert("QT_SCALE_FACTOR", "2");
    m_server.respond("POST", "/api/chat", 500, R"({"error":"model crashed"})");
    ASSERT_NO_FATAL_FAILURE(reviewSelection());

    const std::optional<Window> panel = settledPanel(2 * errorWidth);
    ASSERT_TRUE(panel.has_value()) << "no error panel " << 2 * errorWidth << " pixels wide";
    EXPECT_FALSE(panelOfWidth(2 * resultWidth).has_value());
    EXPECT_TRUE(saveScreenshot(QStringLiteral("e2e-error-panel.png")));
    // Cut to its outline in the screen's own pixels: an edge at an odd pixel exists only at that precision.
    const XcbReply<xcb_shape_get_rectangles_reply_t> shape(xcb_shape_get_rectangles_reply(
        s_session->connection(), xcb_shape_get_rectangles(s_session->connection(), panel->id, XCB_SHAPE_SK_BOUNDING),
        nullptr));
    ASSERT_NE(shape, nullptr);
    const std::span rectangles(xcb_shape_get_rectangles_rectangles(shape.get()),
                               static_cast<std::size_t>(xcb_shape_get_rectangles_rectangles_length(shape.get())));
    EXPECT_TRUE(std::ranges::any_of(rectangles, [](const xcb_rectangle_t& rect) { return rect.x % 2 == 1; }));
    const auto rightEdges =
        rectangles | std::views::transform([](const xcb_rectangle_t& rect) { return rect.x + rect.width; });
    EXPECT_EQ(std::ranges::max(rightEdges), panel->width);
    const Result listed = norikCommand({"history", "--json"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_TRUE(QJsonDocument::fromJson(listed.out).isArray()) << listed.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(listed.out).array().size(), 0) << listed.out.toStdString();

    dismissAndExpectFocusBack();
    EXPECT_EQ(m_norik.state(), QProcess::Running);
}

TEST_F(DesktopReviewTest, TheTrayIconDocksAndAnotherStartOpensTheSettingsOfTheRunningNorik) {
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    ASSERT_TRUE(spinUntil([] {
        const std::optional<TrayHost::Icon> icon = s_tray->icon();
        return icon && icon->shown;
    })) << "no tray icon was shown";
    const xcb_window_t icon = s_tray->icon()->window;
    EXPECT_TRUE(norikWindows(settingsTitle).empty());

    // Started by a launcher, whose launch the settings window completes.
    const QByteArray launch = "launcher-e2e_TIME" + QByteArray::number(serverTime());
    m_environment.insert("DESKTOP_STARTUP_ID", QString::fromLatin1(launch));
    EXPECT_EQ(norikCommand({}).exitCode, 0);
    m_environment.remove("DESKTOP_STARTUP_ID");
    ASSERT_TRUE(spinUntil([] { return norikWindows(settingsTitle).size() == 1; })) << "the settings window is not up";
    const xcb_window_t settings = norikWindows(settingsTitle).front().id;
    EXPECT_EQ(windowText(settings, "_NET_STARTUP_ID"), launch);
    EXPECT_TRUE(spinUntil([&] { return s_session->activeWindow() == settings; })) << "the launch left it behind";

    // With another application in front, asking again brings the one window back to the front.
    s_session->activate(m_editor->window());
    ASSERT_TRUE(spinUntil([&] { return s_session->activeWindow() == m_editor->window(); }));
    EXPECT_EQ(norikCommand({"settings"}).exitCode, 0);
    EXPECT_TRUE(spinUntil([&] { return s_session->activeWindow() == settings; }))
        << "the settings window stayed behind";
    EXPECT_EQ(norikWindows(settingsTitle).size(), 1U) << "a second settings window opened";
    EXPECT_EQ(s_tray->icon()->window, icon) << "another tray icon docked";

    // The hot key still counts over Norik's own window; nothing is selected there.
    pressHotKey();
    EXPECT_TRUE(spinUntil([] { return panelOfWidth(noticeWidth).has_value(); })) << "the hot key did nothing";
    EXPECT_EQ(m_norik.state(), QProcess::Running);
}

TEST_F(DesktopReviewTest, AFirstStartWelcomesTheUserAndGetStartedLeavesNorikStartingAtLogin) {
    ASSERT_EQ(norikCommand({"config", "unset", "hasCompletedOnboarding"}).exitCode, 0);
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    ASSERT_TRUE(spinUntil([] { return norikWindows("Welcome to Norik").size() == 1; })) << "no first-run window";
    const xcb_window_t welcome = norikWindows("Welcome to Norik").front().id;
    ASSERT_TRUE(spinUntil([&] { return s_session->activeWindow() == welcome; })) << "the first-run window is behind";

    // Return presses the default button, "Get started".
    s_session->fakeKey(XCB_KEY_PRESS, returnKey);
    s_session->fakeKey(XCB_KEY_RELEASE, returnKey);
    EXPECT_TRUE(spinUntil([] { return norikWindows("Welcome to Norik").empty(); }));
    EXPECT_EQ(norikCommand({"config", "get", "hasCompletedOnboarding"}).out, "true\n");
    EXPECT_TRUE(QFile::exists(m_home.filePath("config/autostart/dev.norik.Norik.desktop")));
}

TEST_F(DesktopReviewTest, TheTriggerCommandReviewsTheSelectionAsTheHotKeyDoes) {
    m_server.respond("POST", "/api/chat", 200, tutorReply());
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());

    EXPECT_EQ(norikCommand({"trigger"}).exitCode, 0);
    ASSERT_NO_FATAL_FAILURE(expectTheSelectionSent());
    EXPECT_TRUE(settledPanel(resultWidth).has_value()) << "no result panel " << resultWidth << " pixels wide";
    dismissAndExpectFocusBack();
}

TEST_F(DesktopReviewTest, InAWaylandSessionNorikSaysOnceThatTheTriggerCommandReachesEveryWindow) {
    m_environment.insert("XDG_SESSION_TYPE", "wayland");
    m_norik.setProcessChannelMode(QProcess::MergedChannels);
    ASSERT_NO_FATAL_FAILURE(startNorikAndWaitForHotKey());
    ASSERT_TRUE(spinUntil([] {
        const std::optional<TrayHost::Icon> icon = s_tray->icon();
        return icon && icon->shown;
    })) << "no tray icon was shown";
    QByteArray output;
    spinUntil([&] {
        output += m_norik.readAll();
        return output.contains("norik trigger");
    });
    EXPECT_EQ(output.count("norik trigger"), 1) << output.toStdString();
    EXPECT_TRUE(output.contains("only works over X11 windows")) << output.toStdString();
}

} // namespace
} // namespace norik::app
