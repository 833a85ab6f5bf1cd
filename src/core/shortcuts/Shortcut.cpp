// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/Shortcut.h"

#include <array>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

namespace norik::core::shortcuts {

namespace {

struct ModifierRow {
    ModifierFlags flag;
    std::int64_t carbonBit;
};

constexpr std::array kModifierRows{
    ModifierRow{ModifierFlags::shift, carbon::shiftKey},       ModifierRow{ModifierFlags::control, carbon::controlKey},
    ModifierRow{ModifierFlags::option, carbon::optionKey},     ModifierRow{ModifierFlags::command, carbon::cmdKey},
    ModifierRow{ModifierFlags::function, carbon::functionKey},
};

} // namespace

ModifierFlags carbonToFlags(std::int64_t carbonModifiers) {
    ModifierFlags flags;
    for (const auto& row : kModifierRows) {
        if ((carbonModifiers & row.carbonBit) != 0) {
            flags = flags | row.flag;
        }
    }
    return flags;
}

std::int64_t flagsToCarbon(ModifierFlags flags) {
    std::int64_t carbonModifiers = 0;
    for (const auto& row : kModifierRows) {
        if (flags.contains(row.flag)) {
            carbonModifiers |= row.carbonBit;
        }
    }
    return carbonModifiers;
}

std::int64_t normalizedCarbon(std::int64_t carbonModifiers) {
    return flagsToCarbon(carbonToFlags(carbonModifiers));
}

Shortcut::Shortcut(Key key, ModifierFlags modifiers)
    : carbonKeyCode(key.rawValue), carbonModifiers(flagsToCarbon(modifiers)) {}

Shortcut Shortcut::fromCarbon(std::int64_t keyCode, std::int64_t modifiers) {
    Shortcut shortcut;
    shortcut.carbonKeyCode = keyCode;
    shortcut.carbonModifiers = normalizedCarbon(modifiers);
    return shortcut;
}

std::string Shortcut::toJson() const {
    return R"({"carbonKeyCode":)" + std::to_string(carbonKeyCode) + R"(,"carbonModifiers":)" +
           std::to_string(carbonModifiers) + "}";
}

std::optional<Shortcut> Shortcut::fromJson(std::string_view text) {
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    const auto integer = [&](const char* key) -> std::optional<std::int64_t> {
        const auto found = document.find(key);
        // Unsigned members beyond the signed range do not fit the record.
        if (found == document.end() || !found->is_number_integer() ||
            (found->is_number_unsigned() && found->get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return found->get<std::int64_t>();
    };
    const auto keyCode = integer("carbonKeyCode");
    const auto modifiers = integer("carbonModifiers");
    if (!keyCode || !modifiers) {
        return std::nullopt;
    }
    return fromCarbon(*keyCode, *modifiers);
}

} // namespace norik::core::shortcuts
