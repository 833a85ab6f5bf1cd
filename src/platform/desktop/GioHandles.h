// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include <gio/gio.h>

namespace norik::platform::desktop {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GVariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// The message of an error GLib reported, or `fallback` when it reported none.
[[nodiscard]] inline std::string messageOf(const GError* error, const char* fallback) {
    return error != nullptr && error->message != nullptr ? std::string(error->message) : std::string(fallback);
}

} // namespace norik::platform::desktop
