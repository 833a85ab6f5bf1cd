// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Description.h"

#include <array>
#include <string_view>
#include <utility>

#include "core/shortcuts/KeyTable.h"
#include "core/text/Text.h"

namespace norik::core::shortcuts {

namespace {

constexpr std::string_view kReplacementCharacter = "\uFFFD";

constexpr std::array<std::pair<ModifierFlags, std::string_view>, 5> kGlyphs{{
    {ModifierFlags::control, "\u2303"},
    {ModifierFlags::option, "\u2325"},
    {ModifierFlags::shift, "\u21E7"},
    {ModifierFlags::command, "\u2318"},
    {ModifierFlags::function, "\U0001F310\uFE0E"},
}};

// Command is Ctrl and control is Super on Linux.
constexpr std::array<std::pair<ModifierFlags, std::string_view>, 5> kWords{{
    {ModifierFlags::command, "Ctrl"},
    {ModifierFlags::option, "Alt"},
    {ModifierFlags::shift, "Shift"},
    {ModifierFlags::control, "Super"},
    {ModifierFlags::function, "Fn"},
}};

// Keys outside the special map that type nothing but have a name on a Linux desktop.
constexpr std::array<std::pair<Key, std::string_view>, 3> kNamedKeys{{
    {Key::mute, "Volume Mute"},
    {Key::volumeUp, "Volume Up"},
    {Key::volumeDown, "Volume Down"},
}};

std::string characterOf(Key key, const KeyboardLayout* layout) {
    const auto character = layout != nullptr ? layout->keyToCharacter(key) : std::nullopt;
    return text::capitalized(character.value_or(std::string(kReplacementCharacter)));
}

} // namespace

std::string modifierGlyphs(ModifierFlags flags) {
    std::string glyphs;
    for (const auto& [flag, glyph] : kGlyphs) {
        if (flags.contains(flag)) {
            glyphs += glyph;
        }
    }
    return glyphs;
}

std::string description(const Shortcut& shortcut, const KeyboardLayout* layout) {
    std::string text = modifierGlyphs(shortcut.modifiers());
    if (const auto special = specialKey(shortcut.key())) {
        const std::string glyph = presentableDescription(*special);
        return text + (*special == SpecialKey::space ? text::capitalized(glyph) : glyph);
    }
    return text + characterOf(shortcut.key(), layout);
}

std::string wordsDescription(const Shortcut& shortcut, const KeyboardLayout* layout) {
    std::string text;
    const ModifierFlags flags = shortcut.modifiers();
    for (const auto& [flag, word] : kWords) {
        if (flags.contains(flag)) {
            text.append(word).append("+");
        }
    }
    if (const auto special = specialKey(shortcut.key())) {
        return text.append(keyName(*special));
    }
    for (const auto& [key, name] : kNamedKeys) {
        if (key == shortcut.key()) {
            return text.append(name);
        }
    }
    return text + characterOf(shortcut.key(), layout);
}

std::optional<std::string> menuKeyEquivalent(const Shortcut& shortcut, const KeyboardLayout* layout) {
    if (const auto special = specialKey(shortcut.key())) {
        const auto equivalent = menuKeyEquivalent(*special);
        return equivalent ? std::optional<std::string>(*equivalent) : std::nullopt;
    }
    return layout != nullptr ? layout->keyToCharacter(shortcut.key()) : std::nullopt;
}

} // namespace norik::core::shortcuts
