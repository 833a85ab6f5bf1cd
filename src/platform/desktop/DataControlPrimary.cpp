// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/DataControlPrimary.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include <gio/gio.h>
#include <wayland-client.h>

#include "platform/desktop/GioHandles.h"

namespace norik::platform::desktop {

namespace {

struct Reading {
    std::function<void(std::optional<std::string>)> done;
    GObjectPtr<GSubprocess> process;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    guint timeout = 0;
    std::optional<std::stop_callback<std::function<void()>>> onStop;
};

void finished(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<Reading> reading(static_cast<Reading*>(data));
    if (reading->timeout != 0) {
        g_source_remove(reading->timeout);
    }
    GBytes* raw = nullptr;
    const bool communicated =
        g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &raw, nullptr, nullptr) != FALSE;
    const std::unique_ptr<GBytes, decltype(&g_bytes_unref)> output(raw, &g_bytes_unref);
    std::optional<std::string> text;
    if (!communicated) {
        // Time is up or a stop came: an owner that never answers must not keep wl-paste alive.
        g_subprocess_force_exit(G_SUBPROCESS(source));
    } else if (g_subprocess_get_successful(G_SUBPROCESS(source)) && output && g_bytes_get_size(output.get()) > 0) {
        gsize size = 0;
        const auto* bytes = static_cast<const char*>(g_bytes_get_data(output.get(), &size));
        text.emplace(bytes, size);
    }
    reading->onStop.reset();
    reading->done(std::move(text));
}

} // namespace

bool compositorOffersDataControl() {
    if (g_getenv("WAYLAND_DISPLAY") == nullptr) {
        return false;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return false;
    }
    static constexpr wl_registry_listener listener{
        .global =
            [](void* offered, wl_registry* /*registry*/, std::uint32_t /*name*/, const char* interface,
               std::uint32_t /*version*/) {
                if (std::string_view(interface) == "zwlr_data_control_manager_v1") {
                    *static_cast<bool*>(offered) = true;
                }
            },
        .global_remove = [](void* /*offered*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {},
    };
    bool offered = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && offered;
}

void readDataControlPrimary(std::chrono::milliseconds timeout, std::stop_token stop,
                            std::function<void(std::optional<std::string>)> done) {
    auto reading = std::make_unique<Reading>();
    reading->done = std::move(done);
    // "text" lets wl-paste pick the selection's best text type, so an image is never taken for text.
    reading->process.reset(g_subprocess_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr,
        "wl-paste", "--primary", "--no-newline", "--type", "text", nullptr));
    if (reading->process == nullptr) {
        g_idle_add_once(
            [](gpointer data) {
                const std::unique_ptr<Reading> failed(static_cast<Reading*>(data));
                failed->done(std::nullopt);
            },
            reading.release());
        return;
    }
    GCancellable* cancellable = reading->cancellable.get();
    reading->timeout = g_timeout_add_once(
        static_cast<guint>(timeout.count()),
        [](gpointer data) {
            auto* expired = static_cast<Reading*>(data);
            expired->timeout = 0;
            g_cancellable_cancel(expired->cancellable.get());
        },
        reading.get());
    // A stop may come from any thread; cancelling is safe from each.
    reading->onStop.emplace(std::move(stop), [cancellable] { g_cancellable_cancel(cancellable); });
    GSubprocess* process = reading->process.get();
    g_subprocess_communicate_async(process, nullptr, cancellable, finished, reading.release());
}

} // namespace norik::platform::desktop
