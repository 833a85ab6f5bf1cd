// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyCombination.h"

#include <array>
#include <utility>

#include <xkbcommon/xkbcommon.h>

#include "core/shortcuts/KeyTable.h"
#include "core/text/Text.h"

namespace norik::core::shortcuts {

namespace {

// Command is Ctrl, option Alt and control Super on Linux. KDE writes Super as Meta; GTK writes Ctrl as Primary.
constexpr std::array<std::pair<std::string_view, ModifierFlags>, 10> kModifierNames{{
    {"ctrl", ModifierFlags::command},
    {"control", ModifierFlags::command},
    {"primary", ModifierFlags::command},
    {"alt", ModifierFlags::option},
    {"mod1", ModifierFlags::option},
    {"shift", ModifierFlags::shift},
    {"super", ModifierFlags::control},
    {"meta", ModifierFlags::control},
    {"win", ModifierFlags::control},
    {"mod4", ModifierFlags::control},
}};

constexpr std::array<std::pair<std::string_view, Key>, 6> kKeyAliases{{
    {"enter", Key::returnKey},
    {"escape", Key::escape},
    {"del", Key::deleteForward},
    {"pgup", Key::pageUp},
    {"pgdown", Key::pageDown},
    {"ins", Key::help},
}};

std::optional<ModifierFlags> modifierNamed(std::string_view name) {
    const std::string lower = text::lowercased(name);
    for (const auto& [word, flag] : kModifierNames) {
        if (lower == word) {
            return flag;
        }
    }
    return std::nullopt;
}

// The code point of a text that is exactly one UTF-8 encoded character.
std::optional<std::uint32_t> singleCodePoint(std::string_view name) {
    if (name.empty() || text::graphemeCount(name) != 1) {
        return std::nullopt;
    }
    const auto lead = static_cast<unsigned char>(name[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (name.size() != length) {
        return std::nullopt;
    }
    std::uint32_t code = length == 1 ? lead : lead & (0x7FU >> length);
    for (std::size_t index = 1; index < length; ++index) {
        code = (code << 6U) | (static_cast<unsigned char>(name[index]) & 0x3FU);
    }
    return code;
}

std::optional<Key> keyNamed(std::string_view name, const KeyboardLayout& layout) {
    const std::string lower = text::lowercased(name);
    for (std::size_t index = 0; index < specialKeyCount; ++index) {
        const auto special = static_cast<SpecialKey>(index);
        if (text::lowercased(keyName(special)) == lower) {
            return keyOf(special);
        }
    }
    for (const auto& [alias, key] : kKeyAliases) {
        if (alias == lower) {
            return key;
        }
    }
    if (const auto code = singleCodePoint(name)) {
        if (const xkb_keysym_t keysym = xkb_utf32_to_keysym(*code); keysym != XKB_KEY_NoSymbol) {
            return layout.keyForKeysym(keysym);
        }
    }
    const std::string nameText(name);
    const xkb_keysym_t keysym = xkb_keysym_from_name(nameText.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
    return keysym == XKB_KEY_NoSymbol ? std::nullopt : layout.keyForKeysym(keysym);
}

} // namespace

std::expected<Shortcut, std::string> parseWords(std::string_view text, const KeyboardLayout& layout) {
    if (text.empty()) {
        return std::unexpected("no shortcut given");
    }
    ModifierFlags modifiers;
    // "Ctrl++" and "Ctrl+Plus" both mean the plus key: the last part is the key even when it is empty.
    std::string_view rest = text;
    while (true) {
        const auto plus = rest.find('+');
        if (plus == std::string_view::npos || plus + 1 == rest.size()) {
            break;
        }
        const std::string_view part = rest.substr(0, plus);
        const auto modifier = modifierNamed(part);
        if (!modifier) {
            return std::unexpected("“" + std::string(part) + "” is not a modifier; use Ctrl, Alt, Shift or Super");
        }
        modifiers = modifiers | *modifier;
        rest.remove_prefix(plus + 1);
    }
    if (modifierNamed(rest)) {
        return std::unexpected("“" + std::string(text) + "” has no key after its modifiers");
    }
    const auto key = keyNamed(rest, layout);
    if (!key) {
        return std::unexpected("“" + std::string(rest) + "” is not a key Norik knows");
    }
    return Shortcut(*key, modifiers);
}

std::optional<Shortcut> parseAccelerator(std::string_view text, const KeyboardLayout& layout) {
    ModifierFlags modifiers;
    while (text.starts_with('<')) {
        const auto close = text.find('>');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const auto modifier = modifierNamed(text.substr(1, close - 1));
        if (!modifier) {
            return std::nullopt;
        }
        modifiers = modifiers | *modifier;
        text.remove_prefix(close + 1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    const auto key = keyNamed(text, layout);
    return key ? std::optional(Shortcut(*key, modifiers)) : std::nullopt;
}

bool isFunctionKey(Key key) {
    const auto special = specialKey(key);
    return special && *special >= SpecialKey::f1 && *special <= SpecialKey::f20;
}

std::optional<std::string> refusalOf(const Shortcut& shortcut) {
    const ModifierFlags flags = shortcut.modifiers();
    const bool hasChordModifier = flags.contains(ModifierFlags::command) || flags.contains(ModifierFlags::option) ||
                                  flags.contains(ModifierFlags::control);
    if (hasChordModifier || isFunctionKey(shortcut.key())) {
        return std::nullopt;
    }
    return "a shortcut needs Ctrl, Alt or Super, unless its key is an F key";
}

} // namespace norik::core::shortcuts
