// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/shortcuts/DesktopTables.h"
#include "core/shortcuts/KeyCombination.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norik::core::shortcuts;
    static const KeyboardLayout layout = KeyboardLayout::fromNames("us").value();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    (void)kdeGlobalShortcuts(input, layout);
    (void)xfceKeyboardShortcuts(input, layout);
    (void)fcitx5HotKeys(input, layout);
    (void)parseWords(input, layout);
    (void)parseAccelerator(input, layout);
    return 0;
}
