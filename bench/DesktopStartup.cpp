// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the start of the desktop app as a user meets it, on a private Xvfb with openbox and a system
// tray: from starting `norik` to its tray icon shown, its resident memory once started, and from choosing
// "Settings…" in the tray menu (opened with the mouse, chosen with the keyboard) to the settings window
// mapped. Every run starts a fresh norik, so each settings window is its first.
//   norik_desktop_startup NORIK [RUNS]
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <poll.h>
#include <sys/prctl.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "app/capture/CaptureSession.h"
#include "platform/x11/TrayHost.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using norik::platform::x11::XcbReply;
using norik::tests::DesktopSession;
using norik::tests::spinUntil;
using norik::tests::TrayHost;

constexpr xcb_keycode_t down = 116;
constexpr xcb_keycode_t enter = 36;

// A connection of our own that sees every new window mapped, with its name, apart from Qt's.
class MapWatcher {
public:
    explicit MapWatcher(const std::string& display) : m_connection(xcb_connect(display.c_str(), nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        m_netName = atom("_NET_WM_NAME");
        xcb_flush(m_connection);
    }
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;
    ~MapWatcher() { xcb_disconnect(m_connection); }

    struct Mapped {
        Clock::time_point when;
        bool overrideRedirect = false;
        std::string name;
    };

    // The next window mapped that satisfies `wanted`, or nothing within the time-out. Each new top-level
    // window is watched from its creation, as the window manager maps it inside a frame of its own.
    template <typename Wanted> std::optional<Mapped> waitFor(Wanted wanted, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(m_connection);
            if (event == nullptr) {
                pollfd entry{xcb_get_file_descriptor(m_connection), POLLIN, 0};
                ::poll(&entry, 1, 5);
                continue;
            }
            const auto now = Clock::now();
            const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event, &std::free);
            const auto type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(m_connection, created->window, XCB_CW_EVENT_MASK, &mask);
                xcb_flush(m_connection);
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const Mapped mapped{now, map->override_redirect != 0, name(map->window)};
                if (wanted(mapped)) {
                    return mapped;
                }
            }
        }
        return std::nullopt;
    }

    // Forgets what happened so far.
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            std::free(event);
        }
    }

private:
    [[nodiscard]] xcb_atom_t atom(const char* name) const {
        const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    [[nodiscard]] std::string name(xcb_window_t window) const {
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_netName, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr));
        if (!reply) {
            return {};
        }
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_NONE;
    xcb_atom_t m_netName = XCB_NONE;
};

long residentKiB(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* name, const char* unit, std::vector<double> samples, double target) {
    if (samples.empty()) {
        std::printf("%s: no samples\n", name);
        return;
    }
    std::ranges::sort(samples);
    const double median = samples[samples.size() / 2];
    std::printf("%s: median %.1f %s, min %.1f, max %.1f over %zu (target <= %.0f %s: %s)\n", name, median, unit,
                samples.front(), samples.back(), samples.size(), target, unit, median <= target ? "met" : "MISSED");
}

void click(const DesktopSession& session, std::int16_t x, std::int16_t y, std::uint8_t button) {
    xcb_connection_t* connection = session.connection();
    xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, session.root(), x, y, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(connection);
}

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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    std::filesystem::create_directories(home.filePath("runtime").toStdString());
    std::filesystem::permissions(home.filePath("runtime").toStdString(), std::filesystem::perms::owner_all);
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
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
        if (!app.waitForStarted(20'000) || !spinUntil([&] {
                const auto icon = tray.icon();
                return icon && icon->shown;
            })) {
            std::fprintf(stderr, "run %d: no tray icon was shown\n", run);
            return 1;
        }
        toIcon.push_back(milliseconds(*tray.icon()->shown - started));

        // Start-up work that trails the icon (the store, the hot keys, fonts) settles first.
        spinUntil([] { return false; }, 2s);
        memory.push_back(static_cast<double>(residentKiB(app.processId())) / 1024.0);

        watcher.drain();
        click(session, 12, 12, 3);
        if (!watcher.waitFor([](const MapWatcher::Mapped& mapped) { return mapped.overrideRedirect; }, 20s)) {
            std::fprintf(stderr, "run %d: the tray menu did not open\n", run);
            return 1;
        }
        // The menu takes the keyboard just after it is mapped. Then the first item, and the second past the
        // separator: "Settings…".
        spinUntil([] { return false; }, 200ms);
        session.fakeKey(XCB_KEY_PRESS, down);
        session.fakeKey(XCB_KEY_RELEASE, down);
        session.fakeKey(XCB_KEY_PRESS, down);
        session.fakeKey(XCB_KEY_RELEASE, down);
        spinUntil([] { return false; }, 200ms);
        session.fakeKey(XCB_KEY_PRESS, enter);
        const auto chosen = Clock::now();
        session.fakeKey(XCB_KEY_RELEASE, enter);
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
    report("start to tray icon shown", "ms", toIcon, 300);
    report("resident memory 2 s after start", "MB", memory, 60);
    report("\"Settings…\" chosen to settings window mapped (first open)", "ms", toSettings, 150);
    return 0;
}
