// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/providers/LLMErrorBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)norik::core::LLMErrorBody::message(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
