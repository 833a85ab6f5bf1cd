// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the desktop app as a user meets it, on a private Xvfb with openbox and the capture test editor:
// hot key to loading panel mapped, Escape during a slow reply to the model connection closed, and the
// resident memory and wake-ups of norik while idle after start.
//   norik_bench_desktop_latency NORIK [PRESSES]
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "DesktopBench.h"

#include "app/capture/CaptureSession.h"

#include "support/TrayHost.h"

namespace {

using namespace std::chrono_literals;
using norik::bench::Clock;
using norik::bench::MapWatcher;
using norik::bench::milliseconds;
using norik::bench::ProcessStatus;
using norik::bench::report;
using norik::bench::status;
using norik::tests::DesktopSession;
using norik::tests::Editor;
using norik::tests::waitUntil;

constexpr xcb_keycode_t leftControl = 37;
constexpr xcb_keycode_t leftAlt = 64;
constexpr xcb_keycode_t space = 65;
constexpr xcb_keycode_t escape = 9;
constexpr int loadingWidth = 240;

// A model server that reads each request and never answers, noting when it arrived and when the client
// hung up. One connection at a time, as norik sends one review at a time.
class SilentServer {
public:
    SilentServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    ~SilentServer() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        ::close(m_listener);
    }

    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] int requests() const { return m_requests; }
    [[nodiscard]] int closed() const { return m_closed; }
    [[nodiscard]] Clock::time_point lastClose() const { return Clock::time_point(Clock::duration(m_lastClose)); }

private:
    void serve() {
        while (!m_stop) {
            pollfd entry{m_listener, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) {
                continue;
            }
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client >= 0) {
                hold(client);
                ::close(client);
            }
        }
    }

    void hold(int client) {
        std::string received;
        bool counted = false;
        char buffer[4096];
        while (!m_stop) {
            pollfd entry{client, POLLIN | POLLRDHUP, 0};
            if (::poll(&entry, 1, 100) <= 0) {
                continue;
            }
            const ssize_t count = ::recv(client, buffer, sizeof buffer, 0);
            if (count <= 0) {
                m_lastClose = Clock::now().time_since_epoch().count();
                ++m_closed;
                return;
            }
            received.append(buffer, static_cast<std::size_t>(count));
            if (!counted && received.find("\r\n\r\n") != std::string::npos) {
                counted = true;
                ++m_requests;
            }
        }
    }

    int m_listener = -1;
    int m_port = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_closed{0};
    std::atomic<Clock::rep> m_lastClose{0};
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NORIK [PRESSES]\n", argv[0]);
        return 2;
    }
    const QString norik = QString::fromLocal8Bit(argv[1]);
    const int presses = argc > 2 ? std::stoi(argv[2]) : 20;

    DesktopSession session;
    if (!session.error().empty()) {
        std::fprintf(stderr, "%s\n", session.error().c_str());
        return 1;
    }
    // A tray, as on a desktop: without one Norik opens its settings window at start, which takes the focus.
    const norik::tests::TrayHost tray(session.display());
    SilentServer server;
    QTemporaryDir home;
    const QProcessEnvironment environment = norik::bench::isolatedEnvironment(home);
    for (const QStringList& arguments :
         {QStringList{"config", "set", "provider", "local"},
          QStringList{"config", "set", "localEndpoint", QStringLiteral("http://127.0.0.1:%1").arg(server.port())},
          QStringList{"config", "set", "model.local", "llama3"},
          // Past the first-run window, which would otherwise take the focus and the presses.
          QStringList{"config", "set", "hasCompletedOnboarding", "true"}}) {
        QProcess command;
        command.setProcessEnvironment(environment);
        command.start(norik, arguments);
        if (!command.waitForFinished(20'000) || command.exitCode() != 0) {
            std::fprintf(stderr, "norik %s failed\n", arguments.join(' ').toUtf8().constData());
            return 1;
        }
    }

    Editor editor(session, {"--text", "He go to school every days.", "--select"});
    if (!editor.ready()) {
        std::fprintf(stderr, "the editor did not come up\n");
        return 1;
    }
    MapWatcher watcher(session.display());

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    app.start(norik, QStringList{});
    // Probing now and then rather than at every turn keeps the chance of a clash with norik's own grab low.
    QElapsedTimer sinceProbe;
    sinceProbe.start();
    const auto grabbed = [&] {
        if (sinceProbe.elapsed() < 100) {
            return false;
        }
        sinceProbe.restart();
        return !session.canGrab(space, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    };
    if (!app.waitForStarted(20'000) || !waitUntil(grabbed)) {
        std::fprintf(stderr, "norik did not take the hot key\n");
        return 1;
    }
    const qint64 pid = app.processId();

    // Idle: let start-up work (fonts, the store) finish, then count what happens in ten quiet seconds.
    waitUntil([] { return false; }, 2s);
    const ProcessStatus before = status(pid);
    std::this_thread::sleep_for(10s);
    const ProcessStatus after = status(pid);
    std::printf("idle after start: VmRSS %.1f MB (target <= 60 MB: %s)\n",
                static_cast<double>(after.residentKiB) / 1024.0, after.residentKiB <= 60 * 1024 ? "met" : "MISSED");
    std::printf("idle after start: %ld context switches in 10 s over all threads (target none: %s)\n",
                after.switches - before.switches, after.switches == before.switches ? "met" : "MISSED");

    std::vector<double> toPanel;
    std::vector<double> toClose;
    int reviews = 0;
    for (int press = 0; press < presses; ++press) {
        const int requestsBefore = server.requests();
        const int closedBefore = server.closed();
        session.press({leftControl, leftAlt, space});
        const auto pressed = Clock::now();
        session.press({leftControl, leftAlt, space}, false);
        if (const auto mapped = watcher.waitFor(
                [](const MapWatcher::Mapped& window) { return window.createdWidth == loadingWidth; }, 20s)) {
            toPanel.push_back(milliseconds(mapped->when - pressed));
        } else {
            std::fprintf(stderr, "press %d: no loading panel mapped\n", press);
        }
        if (!waitUntil([&] { return server.requests() > requestsBefore; })) {
            std::fprintf(stderr, "press %d: no request reached the server\n", press);
            break;
        }
        // The panel handles Escape once it has the keyboard; a press before that would reach the editor.
        if (!waitUntil([&] { return session.activeWindow() != editor.window(); }, 5s)) {
            std::fprintf(stderr, "press %d: the panel did not take the focus\n", press);
        }
        session.press({escape});
        const auto escaped = Clock::now();
        session.press({escape}, false);
        if (waitUntil([&] { return server.closed() > closedBefore; })) {
            toClose.push_back(milliseconds(server.lastClose() - escaped));
        } else {
            std::fprintf(stderr, "press %d: Escape did not close the connection\n", press);
            break;
        }
        ++reviews;
        // The next press must find the editor focused again, as a user would.
        waitUntil([&] { return session.activeWindow() == editor.window(); });
    }
    report("hot key to loading panel mapped", toPanel, 100);
    report("Escape to model connection closed", toClose, 100);

    const ProcessStatus used = status(pid);
    std::printf("after %d reviews: VmRSS %.1f MB\n", reviews, static_cast<double>(used.residentKiB) / 1024.0);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    app.waitForFinished(10'000);
    return 0;
}
