// SPDX-License-Identifier: GPL-3.0-or-later
// Latency of a global hot key on a private Xvfb: from the moment the X server's key press makes the
// connection readable to the moment the action attached to the shortcut runs. XTest injects the presses.
#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>
#include <poll.h>
#include <xcb/xtest.h>

#include "Percentile.h"

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/KeyTable.h"
#include "core/shortcuts/Registry.h"
#include "platform/x11/X11HotKeyBackend.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace {

using namespace norik;
using namespace norik::core::shortcuts;
using Clock = std::chrono::steady_clock;

using norik::bench::percentile;

void hotKeyDispatchLatency(benchmark::State& state) {
    const tests::XvfbServer server;
    auto connection = platform::x11::XcbConnection::open(server.display().c_str());
    auto injector = platform::x11::XcbConnection::open(server.display().c_str());
    if (server.display().empty() || !connection || !injector) {
        state.SkipWithError("cannot start Xvfb");
        return;
    }
    auto backend = platform::x11::X11HotKeyBackend::create(connection->get(), connection->screenNumber());
    if (!backend) {
        state.SkipWithError(backend.error().c_str());
        return;
    }
    const tests::TemporaryFolder folder;
    core::SettingsStore store(folder.path() / "settings.json");
    Registry registry(store, **backend);
    const Name name("reviewSelection", Shortcut(Key::space, ModifierFlags::option | ModifierFlags::command));
    registry.declare(name);
    std::optional<Clock::time_point> ran;
    int releases = 0;
    registry.onKeyDown(name, [&] { ran = Clock::now(); });
    registry.onKeyUp(name, [&] { ++releases; });

    xcb_connection_t* events = connection->get();
    xcb_connection_t* fake = injector->get();
    const auto inject = [&](std::uint8_t type, Key key) {
        xcb_test_fake_input(fake, type, static_cast<xcb_keycode_t>(xkbKeyCode(key).value()), XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
        xcb_flush(fake);
    };
    // Returns the instant the connection became readable with the awaited event.
    const auto pumpUntil = [&](const auto& done) {
        std::optional<Clock::time_point> readable;
        while (!done()) {
            pollfd entry{xcb_get_file_descriptor(events), POLLIN, 0};
            if (::poll(&entry, 1, 10'000) <= 0) {
                return readable;
            }
            readable = Clock::now();
            while (const platform::x11::XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(events)}) {
                (*backend)->handleEvent(event.get());
            }
        }
        return readable;
    };

    inject(XCB_KEY_PRESS, Key::command);
    inject(XCB_KEY_PRESS, Key::option);
    std::vector<double> latencies;
    std::vector<double> endToEnd;
    for (auto _ : state) {
        ran.reset();
        const auto sent = Clock::now();
        inject(XCB_KEY_PRESS, Key::space);
        const auto readable = pumpUntil([&] { return ran.has_value(); });
        if (!readable || !ran) {
            state.SkipWithError("the hot key did not fire");
            break;
        }
        const std::chrono::duration<double> latency = *ran - *readable;
        state.SetIterationTime(latency.count());
        latencies.push_back(latency.count() * 1e6);
        endToEnd.push_back(std::chrono::duration<double>(*ran - sent).count() * 1e6);
        const int expected = releases + 1;
        inject(XCB_KEY_RELEASE, Key::space);
        pumpUntil([&] { return releases == expected; });
    }
    inject(XCB_KEY_RELEASE, Key::option);
    inject(XCB_KEY_RELEASE, Key::command);
    if (!latencies.empty()) {
        state.counters["dispatch_median_us"] = percentile(latencies, 0.5);
        state.counters["dispatch_p99_us"] = percentile(latencies, 0.99);
        state.counters["injected_median_us"] = percentile(endToEnd, 0.5);
    }
}

BENCHMARK(hotKeyDispatchLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);

} // namespace

BENCHMARK_MAIN();
