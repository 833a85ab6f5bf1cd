// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/instance/InstanceProtocol.h"

// A request line is understood only when it is exactly the line of what was understood.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norik::platform;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (const auto message = messageFromLine(line); message && requestLine(*message) != line) {
        std::abort();
    }
    return 0;
}
