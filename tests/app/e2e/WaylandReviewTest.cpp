// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland compositor, headless, with norik on its XWayland and no tray: norik opens its settings window at
// start, and text then selected in a native Wayland window, which no synthetic Copy reaches, is reviewed when
// the user runs `norik trigger`. mutter hands XWayland the selection; sway, with no X11 window focused, only
// through data-control.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include "platform/x11/XcbHandles.h"

#include "support/HeadlessWayland.h"
#include "support/LoopbackServer.h"

namespace norik::platform::desktop {
namespace {

constexpr int kCommandMs = 20'000;

const QString sentence = QStringLiteral("Él va a l'école chaque jours.");

// The local model's answer, whatever the text.
constexpr const char* kReply =
    R"({"message":{"role":"assistant","content":"{\"language\":\"fr\",\"corrected\":\"Il va à l'école chaque )"
    R"(jour.\",\"improved\":\"Il va à l'école chaque jour.\",\"issues\":[],\"score\":7}"},"done":true})";

std::string property(xcb_connection_t* connection, xcb_window_t window, const char* name) {
    const x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, window, x11::internAtom(connection, name), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
        nullptr));
    return reply ? std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                               static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))
                 : std::string();
}

// The window the window manager reports active once `wanted` holds for it (XCB_NONE while a Wayland window
// or none has the focus), waiting for each change of the root's properties.
xcb_window_t waitForActiveWindow(xcb_connection_t* connection, const std::function<bool(xcb_window_t)>& wanted) {
    const xcb_window_t root = x11::rootWindow(connection, 0);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    while (true) {
        xcb_window_t window = XCB_NONE;
        if (const std::string active = property(connection, root, "_NET_ACTIVE_WINDOW");
            active.size() == sizeof window) {
            std::memcpy(&window, active.data(), sizeof window);
        }
        if (wanted(window)) {
            return window;
        }
        if (!x11::XcbReply<xcb_generic_event_t>(xcb_wait_for_event(connection))) {
            ADD_FAILURE() << "the X server went away";
            return XCB_NONE;
        }
    }
}

int runNorik(const QProcessEnvironment& environment, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(NORIK_E2E_NORIK), arguments);
    return process.waitForFinished(kCommandMs) && process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                                               : -1;
}

class WaylandReview : public ::testing::TestWithParam<Compositor> {};

TEST_P(WaylandReview, TheTriggerCommandReviewsTheSelectionOfANativeWaylandWindow) {
    HeadlessCompositor compositor(GetParam());
    ASSERT_NO_FATAL_FAILURE(compositor.start());
    test::LoopbackServer server;
    server.respond("POST", "/api/chat", 200, kReply);
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid() && QDir(home.path()).mkdir(QStringLiteral("runtime")));
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    using Folder = std::pair<const char*, const char*>;
    for (const auto& [variable, folder] : {Folder{"XDG_CONFIG_HOME", "config"}, Folder{"XDG_DATA_HOME", "data"},
                                           Folder{"XDG_CACHE_HOME", "cache"}, Folder{"XDG_RUNTIME_DIR", "runtime"}}) {
        environment.insert(variable, home.filePath(folder));
    }
    environment.insert("HOME", home.path());
    environment.insert("XDG_SESSION_TYPE", "wayland");
    environment.insert("XDG_CURRENT_DESKTOP", GetParam() == Compositor::mutter ? "GNOME" : "sway");
    environment.insert("DISPLAY", QString::fromStdString(compositor.display));
    environment.insert("XAUTHORITY", QString::fromStdString(compositor.authority));
    environment.insert("WAYLAND_DISPLAY", QString::fromStdString(compositor.wayland));
    // The keyring stays out of the test; the local provider needs no key.
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    for (const QStringList& setting :
         {QStringList{"provider", "local"}, QStringList{"localEndpoint", QString::fromStdString(server.baseUrl())},
          QStringList{"model.local", "llama3"}, QStringList{"hasCompletedOnboarding", "true"}}) {
        ASSERT_EQ(runNorik(environment, QStringList{"config", "set"} + setting), 0);
    }

    QProcess norik;
    norik.setProcessEnvironment(environment);
    norik.setProcessChannelMode(QProcess::ForwardedChannels);
    norik.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    norik.start(QStringLiteral(NORIK_E2E_NORIK), QStringList{});
    ASSERT_TRUE(norik.waitForStarted(kCommandMs));
    // With no tray to click, norik opens its settings window at once; closed, no X11 window is active.
    const tests::ScopedEnvironment restore({"XAUTHORITY"});
    tests::ScopedEnvironment::set("XAUTHORITY", compositor.authority.c_str());
    auto desktop = x11::XcbConnection::open(compositor.display.c_str());
    ASSERT_TRUE(desktop) << desktop.error();
    const xcb_window_t settings = waitForActiveWindow(desktop->get(), [&](xcb_window_t window) {
        return window != XCB_NONE && property(desktop->get(), window, "_NET_WM_NAME") == "Norik Settings";
    });
    xcb_client_message_event_t close{};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = settings;
    close.type = x11::internAtom(desktop->get(), "WM_PROTOCOLS");
    close.data.data32[0] = x11::internAtom(desktop->get(), "WM_DELETE_WINDOW");
    xcb_send_event(desktop->get(), 0, settings, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&close));
    waitForActiveWindow(desktop->get(), [](xcb_window_t window) { return window == XCB_NONE; });

    const PrimaryOwnerChanges owners(desktop->get());
    compositor.select(sentence.toStdString());
    owners.waitForNewOwner();
    ASSERT_EQ(runNorik(environment, {"trigger"}), 0);
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds{20})) << "no review request reached the model server";
    const QJsonArray messages =
        QJsonDocument::fromJson(QByteArray::fromStdString(server.requests().front().body))["messages"].toArray();
    EXPECT_TRUE(std::ranges::any_of(messages, [](const QJsonValue& message) {
        return message["role"] == "user" && message["content"].toString().contains(sentence);
    })) << QJsonDocument(messages).toJson().toStdString();
    norik.terminate();
    norik.waitForFinished(kCommandMs);
}

INSTANTIATE_TEST_SUITE_P(Compositors, WaylandReview, ::testing::Values(Compositor::mutter, Compositor::sway),
                         [](const auto& row) { return row.param == Compositor::mutter ? "Mutter" : "Sway"; });

} // namespace
} // namespace norik::platform::desktop
