// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyboardLayout.h"

#include <array>
#include <string_view>
#include <utility>

#include <xkbcommon/xkbcommon.h>

#include "core/shortcuts/KeyTable.h"
#include "core/text/Text.h"

namespace norik::core::shortcuts {

namespace {

// A dead key types nothing by itself; it shows the spacing form of its accent, as printed on the key.
constexpr std::array<std::pair<xkb_keysym_t, std::string_view>, 13> kDeadKeys{{
    {XKB_KEY_dead_grave, "`"},
    {XKB_KEY_dead_acute, "\u00B4"},
    {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_macron, "\u00AF"},
    {XKB_KEY_dead_breve, "\u02D8"},
    {XKB_KEY_dead_abovedot, "\u02D9"},
    {XKB_KEY_dead_diaeresis, "\u00A8"},
    {XKB_KEY_dead_abovering, "\u02DA"},
    {XKB_KEY_dead_doubleacute, "\u02DD"},
    {XKB_KEY_dead_caron, "\u02C7"},
    {XKB_KEY_dead_cedilla, "\u00B8"},
    {XKB_KEY_dead_ogonek, "\u02DB"},
}};

struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};

} // namespace

void KeyboardLayout::KeymapUnref::operator()(xkb_keymap* keymap) const {
    xkb_keymap_unref(keymap);
}

KeyboardLayout::KeyboardLayout(xkb_keymap* keymap, std::uint32_t layoutIndex)
    : m_keymap(xkb_keymap_ref(keymap), KeymapUnref{}), m_layoutIndex(layoutIndex) {}

std::expected<KeyboardLayout, std::string> KeyboardLayout::fromNames(std::string_view layout,
                                                                     std::string_view variant) {
    const std::unique_ptr<xkb_context, ContextUnref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) {
        return std::unexpected("cannot create an xkb context");
    }
    const std::string layoutText(layout);
    const std::string variantText(variant);
    const xkb_rule_names names{.rules = nullptr,
                               .model = "pc105",
                               .layout = layoutText.c_str(),
                               .variant = variantText.c_str(),
                               .options = nullptr};
    const std::unique_ptr<xkb_keymap, KeymapUnref> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::unexpected("cannot compile the keyboard layout " + layoutText);
    }
    return KeyboardLayout(keymap.get(), 0);
}

std::optional<std::string> KeyboardLayout::keyToCharacter(Key key) const {
    const auto code = xkbKeyCode(key);
    if (specialKey(key) || !code) {
        return std::nullopt;
    }
    const xkb_keysym_t* symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(m_keymap.get(), *code, m_layoutIndex, 0, &symbols);
    if (count != 1) {
        return std::nullopt;
    }
    for (const auto& [deadKey, accent] : kDeadKeys) {
        if (symbols[0] == deadKey) {
            return std::string(accent);
        }
    }
    std::array<char, 16> buffer{};
    const int written = xkb_keysym_to_utf8(symbols[0], buffer.data(), buffer.size());
    if (written <= 1) {
        return std::nullopt;
    }
    std::string character(buffer.data());
    // Control characters (Return, Tab, Escape on keys outside the special map) print nothing.
    if (static_cast<unsigned char>(character.front()) < 0x20 || character == "\x7f" ||
        text::graphemeCount(character) != 1) {
        return std::nullopt;
    }
    return character;
}

} // namespace norik::core::shortcuts

namespace norik::core::shortcuts {

std::optional<Key> KeyboardLayout::keyForKeysym(std::uint32_t keysym) const {
    const xkb_keysym_t wanted = xkb_keysym_to_lower(keysym);
    for (const KeyCodePair& pair : keyCodePairs()) {
        for (const xkb_level_index_t level : {0U, 1U}) {
            const xkb_keysym_t* symbols = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(m_keymap.get(), pair.evdev + kEvdevToXkb, m_layoutIndex,
                                                               level, &symbols);
            if (count == 1 && xkb_keysym_to_lower(symbols[0]) == wanted) {
                return Key{pair.carbon};
            }
        }
    }
    return std::nullopt;
}

} // namespace norik::core::shortcuts
