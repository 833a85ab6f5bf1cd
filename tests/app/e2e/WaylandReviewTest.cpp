// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's compositor, headless, with norik on its XWayland and no tray: norik opens its settings window at
// start, and text selected in a native Wayland window, which no synthetic Copy reaches, is reviewed when the
// user runs `norik trigger`.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

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

#include "support/HeadlessMutter.h"
#include "support/LoopbackServer.h"

namespace norik::platform::desktop {
namespace {

constexpr int kCommandMs = 20'000;

const QString sentence = QStringLiteral("Él va a l'école chaque jours.");

std::string tutorReply() {
    const QJsonObject tutor{{"language", "fr"},
                            {"corrected", "Il va à l'école chaque jour."},
                            {"improved", "Il va à l'école chaque jour."},
                            {"issues", QJsonArray{}},
                            {"score", 7}};
    const QJsonObject reply{
        {"message", QJsonObject{{"role", "assistant"},
                                {"content", QString::fromUtf8(QJsonDocument(tutor).toJson(QJsonDocument::Compact))}}},
        {"done", true}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString();
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    return x11::internAtom(connection, name);
}

std::string windowProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    const x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    return reply ? std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                               static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))
                 : std::string();
}

// The window mutter reports active once `wanted` holds for it (XCB_NONE while a Wayland window or none has
// the focus), waiting for each change of the root's properties.
xcb_window_t waitForActiveWindow(xcb_connection_t* connection, const std::function<bool(xcb_window_t)>& wanted) {
    const xcb_window_t root = x11::rootWindow(connection, 0);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t active = atom(connection, "_NET_ACTIVE_WINDOW");
    while (true) {
        xcb_window_t window = XCB_NONE;
        const std::string value = windowProperty(connection, root, active);
        if (value.size() == sizeof window) {
            std::memcpy(&window, value.data(), sizeof window);
        }
        if (wanted(window)) {
            return window;
        }
        const x11::XcbReply<xcb_generic_event_t> event(xcb_wait_for_event(connection));
        if (!event) {
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

TEST(WaylandReview, TheTriggerCommandReviewsTheSelectionOfANativeWaylandWindow) {
    HeadlessMutter mutter;
    ASSERT_NO_FATAL_FAILURE(mutter.start());
    test::LoopbackServer server;
    server.respond("POST", "/api/chat", 200, tutorReply());
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("runtime")));
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("XDG_SESSION_TYPE", "wayland");
    environment.insert("XDG_CURRENT_DESKTOP", "GNOME");
    environment.insert("DISPLAY", QString::fromStdString(mutter.display));
    environment.insert("XAUTHORITY", QString::fromStdString(mutter.authority));
    environment.remove("WAYLAND_DISPLAY");
    // The keyring stays out of the test; the local provider needs no key.
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    for (const QStringList& setting :
         {QStringList{"provider", "local"}, QStringList{"localEndpoint", QString::fromStdString(server.baseUrl())},
          QStringList{"model.local", "llama3"}, QStringList{"hasCompletedOnboarding", "true"}}) {
        ASSERT_EQ(runNorik(environment, QStringList{"config", "set"} + setting), 0);
    }

    const tests::ScopedEnvironment restore({"XAUTHORITY"});
    tests::ScopedEnvironment::set("XAUTHORITY", mutter.authority.c_str());
    auto watcher = x11::XcbConnection::open(mutter.display.c_str());
    ASSERT_TRUE(watcher);
    const PrimaryOwnerChanges owners(watcher->get());
    mutter.select(sentence.toStdString(), false);
    owners.waitForNewOwner();

    QProcess norik;
    norik.setProcessEnvironment(environment);
    norik.setProcessChannelMode(QProcess::ForwardedChannels);
    norik.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    norik.start(QStringLiteral(NORIK_E2E_NORIK), QStringList{});
    ASSERT_TRUE(norik.waitForStarted(kCommandMs));
    // With no tray to click, norik opens its settings window at once; closed, no X11 window is active.
    auto desktop = x11::XcbConnection::open(mutter.display.c_str());
    ASSERT_TRUE(desktop);
    const xcb_atom_t name = atom(desktop->get(), "_NET_WM_NAME");
    const xcb_window_t settings = waitForActiveWindow(desktop->get(), [&](xcb_window_t window) {
        return window != XCB_NONE && windowProperty(desktop->get(), window, name) == "Norik Settings";
    });
    xcb_client_message_event_t close{};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = settings;
    close.type = atom(desktop->get(), "_NET_CLOSE_WINDOW");
    xcb_send_event(desktop->get(), 0, x11::rootWindow(desktop->get(), 0),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&close));
    xcb_flush(desktop->get());
    waitForActiveWindow(desktop->get(), [](xcb_window_t window) { return window == XCB_NONE; });

    ASSERT_EQ(runNorik(environment, {"trigger"}), 0);
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds{20})) << "no review request reached the model server";
    const QJsonObject body =
        QJsonDocument::fromJson(QByteArray::fromStdString(server.requests().front().body)).object();
    const QJsonArray messages = body.value("messages").toArray();
    EXPECT_TRUE(std::ranges::any_of(messages, [](const QJsonValue& message) {
        return message.toObject().value("role") == "user" &&
               message.toObject().value("content").toString().contains(sentence);
    })) << QJsonDocument(messages).toJson().toStdString();
    norik.terminate();
    norik.waitForFinished(kCommandMs);
}

} // namespace
} // namespace norik::platform::desktop
