// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the start of the desktop app as a user meets it, on a private Xvfb with openbox and a system
// tray: from starting `norik` to its tray icon shown, its resident memory once started, and from choosing
// "Settings…" in the tray menu (opened with the mouse, chosen with the keyboard) to the settings window
// mapped. Every run starts a fresh norik, so each settings window is its first.
//   norik_desktop_startup NORIK [RUNS]
#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/prctl.h>
#include <xcb/xcb.h>

#include "DesktopBench.h"

#include "app/capture/CaptureSession.h"

#include "support/TrayHost.h"

namespace {

using namespace std::chrono_literals;
using norik::bench::Clock;
using norik::bench::MapWatcher;
using norik::bench::milliseconds;
using norik::bench::report;
using norik::tests::DesktopSession;
using norik::tests::TrayHost;
using norik::tests::waitUntil;

constexpr xcb_keycode_t down = 116;
constexpr xcb_keycode_t enter = 36;

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NORIK [RUNS]\n", argv[0]);
        return 2;
    }
    const QString norik = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::stoi(argv[2]) : 10;

    DesktopSession session;
    if (!session.error().empty()) {
        std::fprintf(stderr, "%s\n", session.error().c_str());
        return 1;
    }
    TrayHost tray(session.display());
    if (!tray.error().empty()) {
        std::fprintf(stderr, "%s\n", tray.error().c_str());
        return 1;
    }
    QTemporaryDir home;
    const QProcessEnvironment environment = norik::bench::isolatedEnvironment(home);
    MapWatcher watcher(session.display());

    std::vector<double> toIcon;
    std::vector<double> memory;
    std::vector<double> toSettings;
    for (int run = 0; run < runs; ++run) {
        tray.reset();
        QProcess app;
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        const auto started = Clock::now();
        app.start(norik, QStringList{});
        if (!app.waitForStarted(20'000) || !waitUntil([&] {
                const auto icon = tray.icon();
                return icon && icon->shown;
            })) {
            std::fprintf(stderr, "run %d: no tray icon was shown\n", run);
            return 1;
        }
        toIcon.push_back(milliseconds(*tray.icon()->shown - started));

        // Start-up work that trails the icon (the store, the hot keys, fonts) settles first.
        waitUntil([] { return false; }, 2s);
        memory.push_back(static_cast<double>(norik::bench::status(app.processId()).residentKiB) / 1024.0);

        watcher.drain();
        session.click(session.root(), 12, 12, 3);
        if (!watcher.waitFor([](const MapWatcher::Mapped& mapped) { return mapped.overrideRedirect; }, 20s)) {
            std::fprintf(stderr, "run %d: the tray menu did not open\n", run);
            return 1;
        }
        // The menu takes the keyboard just after it is mapped. Then the first item, and the second past the
        // separator: "Settings…".
        waitUntil([] { return false; }, 200ms);
        session.tap({down});
        session.tap({down});
        waitUntil([] { return false; }, 200ms);
        session.press({enter});
        const auto chosen = Clock::now();
        session.press({enter}, false);
        const auto settings =
            watcher.waitFor([](const MapWatcher::Mapped& mapped) { return mapped.name == "Norik Settings"; }, 20s);
        if (settings) {
            toSettings.push_back(milliseconds(settings->when - chosen));
        } else {
            std::fprintf(stderr, "run %d: no settings window was mapped\n", run);
        }

        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        app.waitForFinished(10'000);
    }
    report("start to tray icon shown", toIcon, 300);
    report("resident memory 2 s after start", memory, 60, "MB");
    report("\"Settings…\" chosen to settings window mapped (first open)", toSettings, 150);
    return 0;
}
