// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/TriggerText.h"

#include <array>
#include <string_view>
#include <utility>

#include "core/shortcuts/KeyTable.h"

namespace norik::platform::desktop {

namespace {

using core::shortcuts::ModifierFlags;

struct ModifierNames {
    ModifierFlags flag;
    std::string_view xdg;
    std::string_view gnome;
};

constexpr std::array<ModifierNames, 4> kModifiers{{
    {ModifierFlags::command, "CTRL", "<Control>"},
    {ModifierFlags::option, "ALT", "<Alt>"},
    {ModifierFlags::shift, "SHIFT", "<Shift>"},
    {ModifierFlags::control, "LOGO", "<Super>"},
}};

std::optional<std::string> keysymName(core::shortcuts::Key key, xkb_keymap* keymap, xkb_layout_index_t layout) {
    const auto code = core::shortcuts::xkbKeyCode(key);
    if (!code) {
        return std::nullopt;
    }
    const xkb_keysym_t* symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, *code, layout, 0, &symbols);
    if (count < 1 || symbols[0] == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(symbols[0], name.data(), name.size()) <= 0) {
        return std::nullopt;
    }
    return std::string(name.data());
}

template <auto Member>
std::optional<std::string> format(const core::shortcuts::Shortcut& shortcut, xkb_keymap* keymap,
                                  xkb_layout_index_t layout, std::string_view separator) {
    auto key = keysymName(shortcut.key(), keymap, layout);
    if (!key) {
        return std::nullopt;
    }
    std::string text;
    for (const ModifierNames& modifier : kModifiers) {
        if (shortcut.modifiers().contains(modifier.flag)) {
            text.append(modifier.*Member).append(separator);
        }
    }
    return text + *key;
}

} // namespace

std::optional<std::string> xdgTrigger(const core::shortcuts::Shortcut& shortcut, xkb_keymap* keymap,
                                      xkb_layout_index_t layout) {
    return format<&ModifierNames::xdg>(shortcut, keymap, layout, "+");
}

std::optional<std::string> gnomeAccelerator(const core::shortcuts::Shortcut& shortcut, xkb_keymap* keymap,
                                            xkb_layout_index_t layout) {
    return format<&ModifierNames::gnome>(shortcut, keymap, layout, "");
}

} // namespace norik::platform::desktop
