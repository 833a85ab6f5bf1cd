// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/shortcuts/Shortcut.h"

// A stored shortcut that decodes survives a round trip through its stored form unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using norik::core::shortcuts::Shortcut;
    const auto decoded = Shortcut::fromJson(std::string_view(reinterpret_cast<const char*>(data), size));
    if (decoded && Shortcut::fromJson(decoded->toJson()) != decoded) {
        std::abort();
    }
    return 0;
}
