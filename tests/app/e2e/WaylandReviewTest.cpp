// SPDX-License-Identifier: GPL-3.0-or-later
// GNOME's compositor, headless, with norik on its XWayland: text selected in a native Wayland window, which
// no synthetic Copy reaches, is reviewed when the user runs `norik trigger`.
#include <algorithm>
#include <chrono>
#include <csignal>

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
// Each attempt is a whole process start, so this spans far more than norik's own start.
constexpr int kTriggerAttempts = 500;

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
    // `norik trigger` fails until the started norik answers.
    int attempts = 0;
    while (runNorik(environment, {"trigger"}) != 0 && norik.state() == QProcess::Running &&
           ++attempts < kTriggerAttempts) {
    }
    ASSERT_EQ(norik.state(), QProcess::Running);

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
