// SPDX-License-Identifier: GPL-3.0-or-later
// Time of one selection capture on a private Xvfb with openbox, from capture() to `done`, with an editor
// that copies at once: the capture's share of the way from the hot-key press to the loading panel.
// Two starting points: an empty clipboard (nothing to save or write back), and a clipboard another client
// owns (every format read from it first, then written back).
#include <chrono>
#include <memory>
#include <optional>

#include <QClipboard>
#include <benchmark/benchmark.h>

#include "app/capture/CaptureSession.h"
#include "app/capture/X11SelectionCapture.h"

namespace {

using namespace norik;
using Clock = std::chrono::steady_clock;

constexpr xcb_keycode_t leftControl = 37;
constexpr xcb_keycode_t ansiC = 54;

tests::DesktopSession& session() {
    static tests::DesktopSession desktop;
    return desktop;
}

void selectionCapture(benchmark::State& state) {
    const bool foreignClipboard = state.range(0) != 0;
    tests::DesktopSession& desktop = session();
    if (!desktop.error().empty()) {
        state.SkipWithError(desktop.error().c_str());
        return;
    }
    tests::Editor editor(desktop, {"--text", "a sentence the user selected before pressing the hot key", "--select"});
    const auto capture = app::X11SelectionCapture::forApplication();
    if (!editor.ready() || !capture) {
        state.SkipWithError("the editor did not get the focus");
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    int changes = 0;
    QObject context;
    QObject::connect(clipboard, &QClipboard::changed, &context,
                     [&](QClipboard::Mode mode) { changes += mode == QClipboard::Clipboard; });

    for (auto _ : state) {
        // Untimed: the starting clipboard. The editor takes it with its own Ctrl+C.
        if (foreignClipboard) {
            const int before = changes;
            desktop.tap({leftControl, ansiC});
            tests::waitUntil([&] { return changes > before; });
        } else {
            clipboard->clear(QClipboard::Clipboard);
            tests::waitUntil([&] { return desktop.clipboardOwner() == XCB_NONE; });
        }

        std::optional<QString> text;
        bool finished = false;
        const auto start = Clock::now();
        capture->capture({}, [&](std::optional<QString> result) {
            text = std::move(result);
            finished = true;
        });
        tests::waitUntil([&] { return finished; });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!text) {
            state.SkipWithError("the capture returned no text");
            return;
        }
    }
}
BENCHMARK(selectionCapture)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("foreignClipboard")
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
