// SPDX-License-Identifier: GPL-3.0-or-later
// What the desktop benchmarks share: a watcher of windows being mapped, the process's memory and wake-ups,
// and the report line.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstdio>
#include <poll.h>
#include <xcb/xcb.h>

#include "platform/x11/XcbHandles.h"

namespace norik::bench {

using Clock = std::chrono::steady_clock;

// A connection of our own that sees windows being created and mapped, apart from Qt's.
class MapWatcher {
public:
    struct Mapped {
        Clock::time_point when;
        int createdWidth = 0;
        bool overrideRedirect = false;
        std::string name;
    };

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
                m_createdWidths[created->window] = created->width;
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const auto width = m_createdWidths.find(map->window);
                const Mapped mapped{now, width == m_createdWidths.end() ? 0 : width->second,
                                    map->override_redirect != 0, name(map->window)};
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
    [[nodiscard]] xcb_atom_t atom(const char* name) const { return platform::x11::internAtom(m_connection, name); }

    [[nodiscard]] std::string name(xcb_window_t window) const {
        const platform::x11::XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
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
    std::map<xcb_window_t, int> m_createdWidths;
};

struct ProcessStatus {
    long residentKiB = 0;
    long switches = 0;
};

// Resident memory of the process and context switches summed over all its threads.
inline ProcessStatus status(qint64 pid) {
    ProcessStatus result;
    const std::filesystem::path process = "/proc/" + std::to_string(pid);
    auto field = [](const std::filesystem::path& file, const std::string& name) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (line.starts_with(name)) {
                return std::stol(line.substr(name.size()));
            }
        }
        return 0L;
    };
    result.residentKiB = field(process / "status", "VmRSS:");
    std::error_code failure;
    for (const auto& task : std::filesystem::directory_iterator(process / "task", failure)) {
        result.switches += field(task.path() / "status", "voluntary_ctxt_switches:") +
                           field(task.path() / "status", "nonvoluntary_ctxt_switches:");
    }
    return result;
}

// The environment of a norik under measurement: settings, data and its instance socket all in `home`, and
// no session bus, so it neither meets the user's own Norik nor touches their keys. Its user has been through
// the first-run window, which would otherwise open at every start and take the keyboard.
inline QProcessEnvironment isolatedEnvironment(const QTemporaryDir& home) {
    std::filesystem::create_directories(home.filePath("config/norik").toStdString());
    std::ofstream(home.filePath("config/norik/settings.json").toStdString()) << R"({"hasCompletedOnboarding":true})";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    const std::filesystem::path runtime = home.filePath("runtime").toStdString();
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    return environment;
}

inline double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// One line: the median against its target, with the spread.
inline void report(const char* name, std::vector<double> samples, double target, const char* unit = "ms") {
    if (samples.empty()) {
        std::printf("%s: no samples\n", name);
        return;
    }
    std::ranges::sort(samples);
    const double median = samples[samples.size() / 2];
    std::printf("%s: median %.1f %s, min %.1f, max %.1f over %zu (target median <= %.0f %s: %s)\n", name, median, unit,
                samples.front(), samples.back(), samples.size(), target, unit, median <= target ? "met" : "MISSED");
}

} // namespace norik::bench
