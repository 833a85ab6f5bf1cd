// SPDX-License-Identifier: GPL-3.0-or-later
// The shortcut recorder and the first-run window on a private Xvfb: a recorded combination stored and
// registered after its key press, the system-conflict check (the grab probe plus the desktop tables), and the
// first-run window mapped after it is asked for.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <xcb/xtest.h>

#include "Percentile.h"

#include "app/QtWait.h"
#include "app/onboarding/OnboardingController.h"
#include "app/shortcuts/QtX11HotKeys.h"
#include "app/shortcuts/Recorder.h"
#include "core/preferences/SettingsStore.h"
#include "core/shortcuts/KeyTable.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "platform/desktop/SystemShortcuts.h"

#include "support/TestFiles.h"
#include "support/XvfbServer.h"

namespace {

using namespace norik;
using namespace norik::core::shortcuts;
using Clock = std::chrono::steady_clock;

using norik::bench::percentile;
using norik::tests::waitUntil;

// Desktop tables as big as real ones: the installed GNOME and IBus schemas with their default bindings, and
// files of KDE, Xfce and fcitx5.
platform::DesktopSources busyDesktop(const std::filesystem::path& config) {
    std::filesystem::create_directories(config / "xfce4/xfconf/xfce-perchannel-xml");
    std::filesystem::create_directories(config / "fcitx5");
    std::ofstream kde(config / "kglobalshortcutsrc");
    for (int index = 0; index < 60; ++index) {
        kde << "[component" << index << "]\nAction=Meta+Ctrl+F" << (index % 12 + 1) << ",none,Action\n";
    }
    std::ofstream(config / "xfce4/xfconf/xfce-perchannel-xml/xfce4-keyboard-shortcuts.xml")
        << R"(<channel name="xfce4-keyboard-shortcuts"><property name="xfwm4" type="empty">)"
        << R"(<property name="custom" type="empty"><property name="&lt;Alt&gt;F4" type="string" value="close"/>)"
        << "</property></property></channel>";
    std::ofstream(config / "fcitx5/config") << "[Hotkey/TriggerKeys]\n0=Control+space\n";
    return platform::DesktopSources{
        .configHome = config, .schemaDirectory = {}, .memoryBackend = true, .gnome = true, .ibus = true};
}

// One application for the whole run, made and ended by main(): Qt allows one per process.
struct Desktop {
    tests::XvfbServer server;
    std::unique_ptr<QApplication> application;
};

Desktop* s_desktop = nullptr;

Desktop& desktop() {
    return *s_desktop;
}

void conflictCheck(benchmark::State& state) {
    if (!desktop().application) {
        state.SkipWithError("cannot start Xvfb");
        return;
    }
    const tests::TemporaryFolder config;
    const auto sources = busyDesktop(config.path());
    auto system = platform::SystemShortcuts::create(nullptr, sources);
    if (!system) {
        state.SkipWithError(system.error().c_str());
        return;
    }
    state.counters["desktop_table_entries"] =
        static_cast<double>(platform::desktopShortcuts(sources, (*system)->layout()).size());
    const Shortcut free(Key::k, ModifierFlags::command | ModifierFlags::option | ModifierFlags::shift);
    for (auto _ : state) {
        benchmark::DoNotOptimize((*system)->isReserved(free, std::nullopt));
    }
}

void recordedShortcutStoredAndRegistered(benchmark::State& state) {
    if (!desktop().application) {
        state.SkipWithError("cannot start Xvfb");
        return;
    }
    auto hotKeys = app::QtX11HotKeys::create();
    auto injector = platform::x11::XcbConnection::open(nullptr);
    if (!hotKeys || !injector) {
        state.SkipWithError("no X11 hot keys");
        return;
    }
    auto& backend = (*hotKeys)->backend();
    const tests::TemporaryFolder folder;
    core::SettingsStore store(folder.path() / "settings.json");
    Registry registry(store, backend);
    registry.declare(reviewSelection());
    auto system = platform::SystemShortcuts::create(nullptr, busyDesktop(folder.path() / "config"));
    if (!system) {
        state.SkipWithError(system.error().c_str());
        return;
    }
    app::RecorderContext context{registry, &backend.layout(), [&](const Shortcut& shortcut) {
                                     return (*system)->isReserved(shortcut, registry.getShortcut(reviewSelection()));
                                 }};
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* recorder = new app::Recorder(reviewSelection(), context);
    column->addWidget(recorder);
    window.show();
    window.activateWindow();
    if (!waitUntil([&] { return window.isActiveWindow(); })) {
        state.SkipWithError("the window did not become active");
        return;
    }
    // The instant the key press reaches the field, before the recorder handles it.
    std::optional<Clock::time_point> pressed;
    struct PressClock final : QObject {
        std::optional<Clock::time_point>& pressed;
        explicit PressClock(std::optional<Clock::time_point>& at) : pressed(at) {}
        bool eventFilter(QObject*, QEvent* event) override {
            const int key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event)->key() : 0;
            if (key == Qt::Key_J || key == Qt::Key_K) {
                pressed = Clock::now();
            }
            return false;
        }
    } clock(pressed);
    recorder->field().installEventFilter(&clock);
    std::optional<Clock::time_point> storedAt;
    const auto observer = registry.notifications().addObserver(shortcutByNameDidChange,
                                                               [&](const Notification&) { storedAt = Clock::now(); });

    xcb_connection_t* fake = injector->get();
    const auto inject = [&](std::uint8_t type, Key key) {
        xcb_test_fake_input(fake, type, static_cast<xcb_keycode_t>(xkbKeyCode(key).value()), XCB_CURRENT_TIME, XCB_NONE,
                            0, 0, 0);
        xcb_flush(fake);
    };
    std::vector<double> fromPress;
    std::vector<double> fromInjection;
    bool flip = false;
    for (auto _ : state) {
        // Recording starts when the field is given the focus, as after a click.
        recorder->field().clearFocus();
        recorder->field().setFocus(Qt::OtherFocusReason);
        if (!waitUntil([&] { return recorder->field().isRecording(); })) {
            state.SkipWithError("recording did not start");
            break;
        }
        flip = !flip;
        const Key key = flip ? Key::j : Key::k;
        pressed.reset();
        storedAt.reset();
        inject(XCB_KEY_PRESS, Key::command);
        inject(XCB_KEY_PRESS, Key::option);
        const auto sent = Clock::now();
        inject(XCB_KEY_PRESS, key);
        if (!waitUntil([&] { return storedAt.has_value(); }) || !registry.isRegistered(reviewSelection())) {
            state.SkipWithError("the shortcut was not stored and registered");
            break;
        }
        const auto begin = pressed.value_or(sent);
        state.SetIterationTime(std::chrono::duration<double>(*storedAt - begin).count());
        fromPress.push_back(std::chrono::duration<double, std::milli>(*storedAt - begin).count());
        fromInjection.push_back(std::chrono::duration<double, std::milli>(*storedAt - sent).count());
        inject(XCB_KEY_RELEASE, key);
        inject(XCB_KEY_RELEASE, Key::option);
        inject(XCB_KEY_RELEASE, Key::command);
    }
    if (!fromPress.empty()) {
        state.counters["press_to_registered_median_ms"] = percentile(fromPress, 0.5);
        state.counters["press_to_registered_p99_ms"] = percentile(fromPress, 0.99);
        state.counters["injected_to_registered_median_ms"] = percentile(fromInjection, 0.5);
    }
}

void onboardingMapped(benchmark::State& state) {
    if (!desktop().application) {
        state.SkipWithError("cannot start Xvfb");
        return;
    }
    auto hotKeys = app::QtX11HotKeys::create();
    if (!hotKeys) {
        state.SkipWithError(hotKeys.error().c_str());
        return;
    }
    const tests::TemporaryFolder folder;
    core::SettingsStore store(folder.path() / "settings.json");
    auto& backend = (*hotKeys)->backend();
    Registry registry(store, backend);
    app::RecorderContext context{registry, &backend.layout(), {}};
    std::vector<double> samples;
    for (auto _ : state) {
        app::OnboardingController onboarding(
            {.onDone = {}, .openSettings = {}, .canSendCopy = [] { return true; }, .explainCopy = {}}, context);
        const auto asked = Clock::now();
        onboarding.show({});
        if (!waitUntil([&] { return onboarding.window()->windowHandle()->isExposed(); })) {
            state.SkipWithError("the window was not mapped");
            break;
        }
        const auto mapped = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(mapped - asked).count());
        samples.push_back(std::chrono::duration<double, std::milli>(mapped - asked).count());
    }
    if (!samples.empty()) {
        state.counters["show_to_mapped_median_ms"] = percentile(samples, 0.5);
    }
}

BENCHMARK(conflictCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(recordedShortcutStoredAndRegistered)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(onboardingMapped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Desktop desktop;
    if (desktop.server.becomeQtDisplay()) {
        desktop.application = std::make_unique<QApplication>(argc, argv);
    }
    s_desktop = &desktop;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
