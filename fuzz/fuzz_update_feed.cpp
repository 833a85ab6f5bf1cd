// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/updates/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto release = norik::core::updates::decodeFeed(input)) {
        (void)norik::core::updates::compareVersions(release->version, "0.1.0");
    }
    (void)norik::core::updates::compareVersions(input, input);
    return 0;
}
