// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyTable.h"

#include <algorithm>
#include <array>
#include <map>

#include "core/shortcuts/Localization.h"

namespace norik::core::shortcuts {

namespace {

constexpr KeyCodePair kKeyCodePairs[] = {
#include "core/shortcuts/KeyCodeTable.inc"
};

struct SpecialKeyRow {
    SpecialKey special;
    Key key;
    std::string_view glyph;
    std::optional<std::string_view> menuKeyEquivalent;
    std::string_view name;
};

constexpr std::array<SpecialKeyRow, specialKeyCount> kSpecialKeys{{
    {SpecialKey::returnKey, Key::returnKey, "\u21A9", "\u21A9", "Return"},
    {SpecialKey::deleteKey, Key::deleteKey, "\u232B", "\u232B", "Backspace"},
    {SpecialKey::deleteForward, Key::deleteForward, "\u2326", "\u2326", "Delete"},
    {SpecialKey::end, Key::end, "\u2198", "\u2198", "End"},
    {SpecialKey::escape, Key::escape, "\u238B", "\u238B", "Esc"},
    // The Help key of a Mac keyboard is the Insert key of a PC keyboard.
    {SpecialKey::help, Key::help, "?\u20DD", "?\u20DD", "Insert"},
    {SpecialKey::home, Key::home, "\u2196", "\u2196", "Home"},
    {SpecialKey::space, Key::space, "", " ", "Space"},
    {SpecialKey::tab, Key::tab, "\u21E5", "\u21E5", "Tab"},
    {SpecialKey::pageUp, Key::pageUp, "\u21DE", "\u21DE", "Page Up"},
    {SpecialKey::pageDown, Key::pageDown, "\u21DF", "\u21DF", "Page Down"},
    {SpecialKey::upArrow, Key::upArrow, "\u2191", "\u2191", "Up"},
    {SpecialKey::rightArrow, Key::rightArrow, "\u2192", "\u2192", "Right"},
    {SpecialKey::downArrow, Key::downArrow, "\u2193", "\u2193", "Down"},
    {SpecialKey::leftArrow, Key::leftArrow, "\u2190", "\u2190", "Left"},
    {SpecialKey::f1, Key::f1, "F1", "\uF704", "F1"},
    {SpecialKey::f2, Key::f2, "F2", "\uF705", "F2"},
    {SpecialKey::f3, Key::f3, "F3", "\uF706", "F3"},
    {SpecialKey::f4, Key::f4, "F4", "\uF707", "F4"},
    {SpecialKey::f5, Key::f5, "F5", "\uF708", "F5"},
    {SpecialKey::f6, Key::f6, "F6", "\uF709", "F6"},
    {SpecialKey::f7, Key::f7, "F7", "\uF70A", "F7"},
    {SpecialKey::f8, Key::f8, "F8", "\uF70B", "F8"},
    {SpecialKey::f9, Key::f9, "F9", "\uF70C", "F9"},
    {SpecialKey::f10, Key::f10, "F10", "\uF70D", "F10"},
    {SpecialKey::f11, Key::f11, "F11", "\uF70E", "F11"},
    {SpecialKey::f12, Key::f12, "F12", "\uF70F", "F12"},
    {SpecialKey::f13, Key::f13, "F13", "\uF710", "F13"},
    {SpecialKey::f14, Key::f14, "F14", "\uF711", "F14"},
    {SpecialKey::f15, Key::f15, "F15", "\uF712", "F15"},
    {SpecialKey::f16, Key::f16, "F16", "\uF713", "F16"},
    {SpecialKey::f17, Key::f17, "F17", "\uF714", "F17"},
    {SpecialKey::f18, Key::f18, "F18", "\uF715", "F18"},
    {SpecialKey::f19, Key::f19, "F19", "\uF716", "F19"},
    {SpecialKey::f20, Key::f20, "F20", "\uF717", "F20"},
    {SpecialKey::keypad0, Key::keypad0, "0\u20E3", std::nullopt, "Num 0"},
    {SpecialKey::keypad1, Key::keypad1, "1\u20E3", std::nullopt, "Num 1"},
    {SpecialKey::keypad2, Key::keypad2, "2\u20E3", std::nullopt, "Num 2"},
    {SpecialKey::keypad3, Key::keypad3, "3\u20E3", std::nullopt, "Num 3"},
    {SpecialKey::keypad4, Key::keypad4, "4\u20E3", std::nullopt, "Num 4"},
    {SpecialKey::keypad5, Key::keypad5, "5\u20E3", std::nullopt, "Num 5"},
    {SpecialKey::keypad6, Key::keypad6, "6\u20E3", std::nullopt, "Num 6"},
    {SpecialKey::keypad7, Key::keypad7, "7\u20E3", std::nullopt, "Num 7"},
    {SpecialKey::keypad8, Key::keypad8, "8\u20E3", std::nullopt, "Num 8"},
    {SpecialKey::keypad9, Key::keypad9, "9\u20E3", std::nullopt, "Num 9"},
    // Keypad clear sits where a PC keyboard has Num Lock, and is that key on Linux.
    {SpecialKey::keypadClear, Key::keypadClear, "\u2612\u20E3", std::nullopt, "Num Lock"},
    {SpecialKey::keypadDecimal, Key::keypadDecimal, ".\u20E3", std::nullopt, "Num ."},
    {SpecialKey::keypadDivide, Key::keypadDivide, "/\u20E3", std::nullopt, "Num /"},
    {SpecialKey::keypadEnter, Key::keypadEnter, "\u21A9\u20E3", std::nullopt, "Num Enter"},
    {SpecialKey::keypadEquals, Key::keypadEquals, "=\u20E3", std::nullopt, "Num ="},
    {SpecialKey::keypadMinus, Key::keypadMinus, "-\u20E3", std::nullopt, "Num -"},
    {SpecialKey::keypadMultiply, Key::keypadMultiply, "*\u20E3", std::nullopt, "Num *"},
    {SpecialKey::keypadPlus, Key::keypadPlus, "+\u20E3", std::nullopt, "Num +"},
}};

const SpecialKeyRow& row(SpecialKey special) {
    return kSpecialKeys[static_cast<std::size_t>(special)];
}

} // namespace

std::span<const KeyCodePair> keyCodePairs() {
    return kKeyCodePairs;
}

std::optional<std::uint32_t> xkbKeyCode(Key key) {
    return evdevCode(key).transform([](std::uint32_t evdev) { return evdev + kEvdevToXkb; });
}

std::optional<std::uint32_t> evdevCode(Key key) {
    const auto found = std::ranges::find(kKeyCodePairs, key.rawValue, &KeyCodePair::carbon);
    if (found == std::end(kKeyCodePairs)) {
        return std::nullopt;
    }
    return found->evdev;
}

std::optional<Key> keyForEvdevCode(std::uint32_t evdev) {
    const auto found = std::ranges::find(kKeyCodePairs, evdev, &KeyCodePair::evdev);
    if (found == std::end(kKeyCodePairs)) {
        return std::nullopt;
    }
    return Key{found->carbon};
}

std::optional<SpecialKey> specialKey(Key key) {
    // Built once, on first use.
    static const std::map<std::int64_t, SpecialKey> byCode = [] {
        std::map<std::int64_t, SpecialKey> codes;
        for (const auto& entry : kSpecialKeys) {
            codes.emplace(entry.key.rawValue, entry.special);
        }
        return codes;
    }();
    const auto found = byCode.find(key.rawValue);
    if (found == byCode.end()) {
        return std::nullopt;
    }
    return found->second;
}

Key keyOf(SpecialKey special) {
    return row(special).key;
}

std::string presentableDescription(SpecialKey special) {
    if (special == SpecialKey::space) {
        return std::string(localized("space_key"));
    }
    return std::string(row(special).glyph);
}

std::optional<std::string_view> menuKeyEquivalent(SpecialKey special) {
    return row(special).menuKeyEquivalent;
}

std::string_view keyName(SpecialKey special) {
    return row(special).name;
}

} // namespace norik::core::shortcuts
