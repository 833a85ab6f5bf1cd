// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <compare>

// The value types of named global shortcuts. A shortcut is stored in Carbon's terms (a macOS virtual key
// code, the physical ANSI key position, and Carbon modifier bits) so that stored choices read the same on
// every platform; the platform backends translate to their own key codes and modifiers.
namespace norik::core::shortcuts {

// A Carbon virtual key code (the kVK_ numbering).
struct Key {
    std::int64_t rawValue = 0;

    friend constexpr bool operator==(Key, Key) = default;
    friend constexpr auto operator<=>(Key, Key) = default;

    static const Key a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z;
    static const Key zero, one, two, three, four, five, six, seven, eight, nine;
    static const Key capsLock, shift, function, control, option, command, rightCommand, rightOption, rightControl,
        rightShift;
    static const Key returnKey, backslash, backtick, comma, equal, minus, period, quote, semicolon, slash, space, tab,
        leftBracket, rightBracket;
    static const Key pageUp, pageDown, home, end, upArrow, rightArrow, downArrow, leftArrow;
    static const Key escape, deleteKey, deleteForward, help, mute, volumeUp, volumeDown;
    static const Key f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20;
    static const Key keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9;
    static const Key keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus, keypadMultiply,
        keypadPlus;
};

inline constexpr Key Key::a{0}, Key::s{1}, Key::d{2}, Key::f{3}, Key::h{4}, Key::g{5}, Key::z{6}, Key::x{7}, Key::c{8},
    Key::v{9}, Key::b{11}, Key::q{12}, Key::w{13}, Key::e{14}, Key::r{15}, Key::y{16}, Key::t{17}, Key::o{31},
    Key::u{32}, Key::i{34}, Key::p{35}, Key::l{37}, Key::j{38}, Key::k{40}, Key::n{45}, Key::m{46};
inline constexpr Key Key::one{18}, Key::two{19}, Key::three{20}, Key::four{21}, Key::six{22}, Key::five{23},
    Key::nine{25}, Key::seven{26}, Key::eight{28}, Key::zero{29};
inline constexpr Key Key::capsLock{57}, Key::shift{56}, Key::function{63}, Key::control{59}, Key::option{58},
    Key::command{55}, Key::rightCommand{54}, Key::rightOption{61}, Key::rightControl{62}, Key::rightShift{60};
inline constexpr Key Key::returnKey{36}, Key::backslash{42}, Key::backtick{50}, Key::comma{43}, Key::equal{24},
    Key::minus{27}, Key::period{47}, Key::quote{39}, Key::semicolon{41}, Key::slash{44}, Key::space{49}, Key::tab{48},
    Key::leftBracket{33}, Key::rightBracket{30};
inline constexpr Key Key::pageUp{116}, Key::pageDown{121}, Key::home{115}, Key::end{119}, Key::upArrow{126},
    Key::rightArrow{124}, Key::downArrow{125}, Key::leftArrow{123};
inline constexpr Key Key::escape{53}, Key::deleteKey{51}, Key::deleteForward{117}, Key::help{114}, Key::mute{74},
    Key::volumeUp{72}, Key::volumeDown{73};
inline constexpr Key Key::f1{122}, Key::f2{120}, Key::f3{99}, Key::f4{118}, Key::f5{96}, Key::f6{97}, Key::f7{98},
    Key::f8{100}, Key::f9{101}, Key::f10{109}, Key::f11{103}, Key::f12{111}, Key::f13{105}, Key::f14{107},
    Key::f15{113}, Key::f16{106}, Key::f17{64}, Key::f18{79}, Key::f19{80}, Key::f20{90};
inline constexpr Key Key::keypad0{82}, Key::keypad1{83}, Key::keypad2{84}, Key::keypad3{85}, Key::keypad4{86},
    Key::keypad5{87}, Key::keypad6{88}, Key::keypad7{89}, Key::keypad8{91}, Key::keypad9{92};
inline constexpr Key Key::keypadClear{71}, Key::keypadDecimal{65}, Key::keypadDivide{75}, Key::keypadEnter{76},
    Key::keypadEquals{81}, Key::keypadMinus{78}, Key::keypadMultiply{67}, Key::keypadPlus{69};

// Modifier flags in the bit positions of macOS key events, the form in which shortcuts are built and shown.
struct ModifierFlags {
    std::uint64_t rawValue = 0;

    [[nodiscard]] constexpr bool contains(ModifierFlags other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    friend constexpr ModifierFlags operator|(ModifierFlags left, ModifierFlags right) {
        return {left.rawValue | right.rawValue};
    }
    friend constexpr bool operator==(ModifierFlags, ModifierFlags) = default;

    static const ModifierFlags shift, control, option, command, function;
};

inline constexpr ModifierFlags ModifierFlags::shift{0x20000}, ModifierFlags::control{0x40000},
    ModifierFlags::option{0x80000}, ModifierFlags::command{0x100000}, ModifierFlags::function{0x800000};

// Carbon's modifier bits. On Linux, command is Ctrl, option is Alt, control is Super.
namespace carbon {
inline constexpr std::int64_t cmdKey = 0x100;
inline constexpr std::int64_t shiftKey = 0x200;
inline constexpr std::int64_t optionKey = 0x800;
inline constexpr std::int64_t controlKey = 0x1000;
inline constexpr std::int64_t functionKey = 0x20000;
} // namespace carbon

// Both directions drop every bit outside the five modifiers.
[[nodiscard]] ModifierFlags carbonToFlags(std::int64_t carbonModifiers);
[[nodiscard]] std::int64_t flagsToCarbon(ModifierFlags flags);
[[nodiscard]] std::int64_t normalizedCarbon(std::int64_t carbonModifiers);

struct Shortcut {
    std::int64_t carbonKeyCode = 0;
    // Always normalised: only the five Carbon modifier bits.
    std::int64_t carbonModifiers = 0;

    Shortcut() = default;
    Shortcut(Key key, ModifierFlags modifiers);
    [[nodiscard]] static Shortcut fromCarbon(std::int64_t keyCode, std::int64_t modifiers);

    [[nodiscard]] Key key() const { return Key{carbonKeyCode}; }
    [[nodiscard]] ModifierFlags modifiers() const { return carbonToFlags(carbonModifiers); }

    // {"carbonKeyCode":49,"carbonModifiers":2304}
    [[nodiscard]] std::string toJson() const;
    // Absent unless the text is a JSON object with the two integer members.
    [[nodiscard]] static std::optional<Shortcut> fromJson(std::string_view text);

    friend bool operator==(const Shortcut&, const Shortcut&) = default;
    friend auto operator<=>(const Shortcut&, const Shortcut&) = default;
};

struct Name {
    std::string rawValue;
    // Stored the first time the name is declared while nothing is stored for it.
    std::optional<Shortcut> defaultShortcut;

    explicit Name(std::string raw, std::optional<Shortcut> defaultValue = std::nullopt)
        : rawValue(std::move(raw)), defaultShortcut(defaultValue) {}

    // Identity is the raw value alone.
    friend bool operator==(const Name& left, const Name& right) { return left.rawValue == right.rawValue; }
    friend auto operator<=>(const Name& left, const Name& right) { return left.rawValue <=> right.rawValue; }
};

enum class EventType { keyDown, keyUp };

} // namespace norik::core::shortcuts
