// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Localization.h"

#include <algorithm>
#include <array>
#include <utility>

namespace norik::core::shortcuts {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kEnglish{{
    {"space_key", "space"},
    {"record_shortcut", "Record Shortcut"},
    {"press_shortcut", "Press Shortcut"},
    {"keyboard_shortcut_used_by_menu_item", "This shortcut cannot be used because the menu item “%@” uses it."},
    {"keyboard_shortcut_disallowed", "Shortcuts whose only modifiers are Alt and Shift cannot be used."},
    {"keyboard_shortcut_used_by_system", "This shortcut is already used by the system."},
    {"keyboard_shortcuts_can_be_changed", "Most system shortcuts can be changed in the keyboard settings."},
    {"ok", "OK"},
    {"force_use_shortcut", "Use Anyway"},
}};

} // namespace

std::string_view localized(std::string_view key) {
    const auto found = std::ranges::find(kEnglish, key, &std::pair<std::string_view, std::string_view>::first);
    return found == kEnglish.end() ? key : found->second;
}

std::string localizedFormat(std::string_view key, std::string_view argument) {
    std::string text(localized(key));
    if (const auto placeholder = text.find("%@"); placeholder != std::string::npos) {
        text.replace(placeholder, 2, argument);
    }
    return text;
}

} // namespace norik::core::shortcuts
