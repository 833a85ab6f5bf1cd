// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/KeyTable.h"

#include <set>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace norik::core::shortcuts {
namespace {

const Key kAllKeys[] = {Key::a,
                        Key::b,
                        Key::c,
                        Key::d,
                        Key::e,
                        Key::f,
                        Key::g,
                        Key::h,
                        Key::i,
                        Key::j,
                        Key::k,
                        Key::l,
                        Key::m,
                        Key::n,
                        Key::o,
                        Key::p,
                        Key::q,
                        Key::r,
                        Key::s,
                        Key::t,
                        Key::u,
                        Key::v,
                        Key::w,
                        Key::x,
                        Key::y,
                        Key::z,
                        Key::zero,
                        Key::one,
                        Key::two,
                        Key::three,
                        Key::four,
                        Key::five,
                        Key::six,
                        Key::seven,
                        Key::eight,
                        Key::nine,
                        Key::capsLock,
                        Key::shift,
                        Key::function,
                        Key::control,
                        Key::option,
                        Key::command,
                        Key::rightCommand,
                        Key::rightOption,
                        Key::rightControl,
                        Key::rightShift,
                        Key::returnKey,
                        Key::backslash,
                        Key::backtick,
                        Key::comma,
                        Key::equal,
                        Key::minus,
                        Key::period,
                        Key::quote,
                        Key::semicolon,
                        Key::slash,
                        Key::space,
                        Key::tab,
                        Key::leftBracket,
                        Key::rightBracket,
                        Key::pageUp,
                        Key::pageDown,
                        Key::home,
                        Key::end,
                        Key::upArrow,
                        Key::rightArrow,
                        Key::downArrow,
                        Key::leftArrow,
                        Key::escape,
                        Key::deleteKey,
                        Key::deleteForward,
                        Key::help,
                        Key::mute,
                        Key::volumeUp,
                        Key::volumeDown,
                        Key::f1,
                        Key::f2,
                        Key::f3,
                        Key::f4,
                        Key::f5,
                        Key::f6,
                        Key::f7,
                        Key::f8,
                        Key::f9,
                        Key::f10,
                        Key::f11,
                        Key::f12,
                        Key::f13,
                        Key::f14,
                        Key::f15,
                        Key::f16,
                        Key::f17,
                        Key::f18,
                        Key::f19,
                        Key::f20,
                        Key::keypad0,
                        Key::keypad1,
                        Key::keypad2,
                        Key::keypad3,
                        Key::keypad4,
                        Key::keypad5,
                        Key::keypad6,
                        Key::keypad7,
                        Key::keypad8,
                        Key::keypad9,
                        Key::keypadClear,
                        Key::keypadDecimal,
                        Key::keypadDivide,
                        Key::keypadEnter,
                        Key::keypadEquals,
                        Key::keypadMinus,
                        Key::keypadMultiply,
                        Key::keypadPlus};

TEST(KeyCodeTable, IsOneToOneAndCoversEveryNamedKey) {
    std::set<std::int64_t> carbon;
    std::set<std::uint32_t> evdev;
    for (const KeyCodePair& pair : keyCodePairs()) {
        EXPECT_TRUE(carbon.insert(pair.carbon).second) << pair.carbon;
        EXPECT_TRUE(evdev.insert(pair.evdev).second) << pair.evdev;
        EXPECT_EQ(keyForEvdevCode(pair.evdev), Key{pair.carbon});
        EXPECT_EQ(evdevCode(Key{pair.carbon}), pair.evdev);
    }
    std::set<std::int64_t> named;
    for (const Key key : kAllKeys) {
        named.insert(key.rawValue);
        EXPECT_TRUE(evdevCode(key).has_value()) << key.rawValue;
    }
    EXPECT_EQ(named.size(), std::size(kAllKeys)) << "two constants share a code";
    EXPECT_EQ(evdevCode(Key{52}), std::nullopt);
    EXPECT_EQ(keyForEvdevCode(KEY_SYSRQ), std::nullopt);
}

TEST(KeyCodeTable, MapsTheKeysWhereMacAndPcKeyboardsDiffer) {
    const std::pair<Key, std::uint32_t> rows[] = {
        {Key::a, KEY_A},
        {Key::y, KEY_Y},
        {Key::z, KEY_Z},
        {Key{10}, KEY_102ND}, // ISO section, left of Z on ISO keyboards
        {Key::backtick, KEY_GRAVE},
        {Key::backslash, KEY_BACKSLASH},
        {Key::deleteKey, KEY_BACKSPACE},
        {Key::deleteForward, KEY_DELETE},
        {Key::help, KEY_INSERT},
        {Key::keypadClear, KEY_NUMLOCK},
        {Key::keypadEquals, KEY_KPEQUAL},
        {Key::keypadEnter, KEY_KPENTER},
        {Key::upArrow, KEY_UP},
        {Key::leftArrow, KEY_LEFT},
        {Key::command, KEY_LEFTCTRL},
        {Key::option, KEY_LEFTALT},
        {Key::control, KEY_LEFTMETA},
        {Key::rightCommand, KEY_RIGHTCTRL},
        {Key::function, KEY_FN},
        {Key::f1, KEY_F1},
        {Key::f12, KEY_F12},
        {Key::f13, KEY_F13},
        {Key::f14, KEY_F14},
        {Key::f15, KEY_F15},
        {Key::f16, KEY_F16},
        {Key::f17, KEY_F17},
        {Key::f18, KEY_F18},
        {Key::f19, KEY_F19},
        {Key::f20, KEY_F20},
        {Key::mute, KEY_MUTE},
        {Key::volumeUp, KEY_VOLUMEUP},
        {Key{93}, KEY_YEN},
        {Key{94}, KEY_RO},
        {Key{102}, KEY_HANGEUL}, // Eisu
        {Key{104}, KEY_HANJA},   // Kana
    };
    for (const auto& [key, evdev] : rows) {
        EXPECT_EQ(evdevCode(key), evdev) << key.rawValue;
    }
}

TEST(SpecialKeys, CarryTheirGlyphsAndMenuKeyEquivalents) {
    std::set<std::int64_t> codes;
    for (std::size_t index = 0; index < specialKeyCount; ++index) {
        const auto special = static_cast<SpecialKey>(index);
        codes.insert(keyOf(special).rawValue);
        EXPECT_EQ(specialKey(keyOf(special)), special) << index;
    }
    EXPECT_EQ(codes.size(), specialKeyCount);
    EXPECT_EQ(specialKey(Key::a), std::nullopt);
    EXPECT_EQ(specialKey(Key::mute), std::nullopt);

    EXPECT_EQ(presentableDescription(SpecialKey::escape), "⎋");
    EXPECT_EQ(presentableDescription(SpecialKey::help), "?⃝");
    EXPECT_EQ(presentableDescription(SpecialKey::space), "space");
    EXPECT_EQ(presentableDescription(SpecialKey::keypadClear), "☒⃣");
    EXPECT_EQ(presentableDescription(SpecialKey::f20), "F20");
    EXPECT_EQ(menuKeyEquivalent(SpecialKey::space), " ");
    EXPECT_EQ(menuKeyEquivalent(SpecialKey::f1), "\uF704");
    EXPECT_EQ(menuKeyEquivalent(SpecialKey::f20), "\uF717");
    EXPECT_EQ(menuKeyEquivalent(SpecialKey::pageDown), "⇟");
    for (const SpecialKey keypad : {SpecialKey::keypad0, SpecialKey::keypadEnter, SpecialKey::keypadPlus}) {
        EXPECT_EQ(menuKeyEquivalent(keypad), std::nullopt);
    }
}

} // namespace
} // namespace norik::core::shortcuts
