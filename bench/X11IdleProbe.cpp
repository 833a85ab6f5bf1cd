// SPDX-License-Identifier: GPL-3.0-or-later
// Registers hot keys on $DISPLAY and waits for events like an idle application would, for the number of
// seconds given; then prints how often the wait returned. x11-idle-wakeups.sh runs it under strace.
#include <chrono>
#include <iostream>
#include <string>

#include <poll.h>

#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/Registry.h"
#include "platform/x11/X11HotKeyBackend.h"
#include "platform/x11/XcbHandles.h"

#include "support/TestFiles.h"

int main(int argc, char** argv) {
    using namespace norik;
    using namespace norik::core::shortcuts;
    const int seconds = argc > 1 ? std::stoi(argv[1]) : 10;
    auto connection = platform::x11::XcbConnection::open(nullptr);
    if (!connection) {
        std::cerr << connection.error() << "\n";
        return 1;
    }
    auto backend = platform::x11::X11HotKeyBackend::create(connection->get(), connection->screenNumber());
    if (!backend) {
        std::cerr << backend.error() << "\n";
        return 1;
    }
    const tests::TemporaryFolder folder;
    core::SettingsStore store(folder.path() / "settings.json");
    Registry registry(store, **backend);
    int presses = 0;
    for (const auto& [raw, shortcut] :
         {std::pair{"reviewSelection", Shortcut(Key::space, ModifierFlags::option | ModifierFlags::command)},
          std::pair{"second", Shortcut(Key::f5, ModifierFlags::control)},
          std::pair{"third", Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift)}}) {
        const Name name(raw, shortcut);
        registry.declare(name);
        registry.onKeyDown(name, [&] { ++presses; });
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int wakeUps = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{xcb_get_file_descriptor(connection->get()), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) > 0) {
            ++wakeUps;
            while (const platform::x11::XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection->get())}) {
                (*backend)->handleEvent(event.get());
            }
        }
    }
    std::cout << "idle " << seconds << " s with 3 hot keys: " << wakeUps << " wake-ups, " << presses << " presses\n";
    return 0;
}
