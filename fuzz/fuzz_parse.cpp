// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/tutor/MistakeCategory.h"
#include "core/tutor/TutorService.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    if (const auto result = norik::core::TutorService::parse(reply)) {
        for (const auto& issue : result->issues) {
            (void)norik::core::mistake_category::normalized(issue.category);
        }
        // Whatever parsed must survive its own encoding.
        if (!norik::core::TutorService::parse(norik::core::toJson(*result))) {
            __builtin_trap();
        }
    }
    (void)norik::core::mistake_category::normalized(reply);
    return 0;
}
