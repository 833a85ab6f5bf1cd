// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ShortcutCommand.h"

#include <memory>
#include <optional>

#include "core/shortcuts/Description.h"
#include "core/shortcuts/KeyCombination.h"
#include "core/shortcuts/Localization.h"
#include "core/shortcuts/NorikShortcuts.h"
#include "core/shortcuts/Registry.h"
#include "platform/desktop/SystemShortcuts.h"

namespace norik::cli {

namespace {

using core::shortcuts::Shortcut;

std::string storageKey() {
    return std::string(core::shortcuts::storageKeyPrefix) + core::shortcuts::reviewSelection().rawValue;
}

// What the desktop app would register: the default until anything is stored, nothing after a clear.
std::optional<Shortcut> currentShortcut(const core::SettingsStore& settings) {
    if (!settings.value(storageKey())) {
        return core::shortcuts::reviewSelection().defaultShortcut;
    }
    const auto text = settings.string(storageKey());
    return text ? Shortcut::fromJson(*text) : std::nullopt;
}

// The display's own conflicts and layout when one can be reached; the US layout otherwise.
struct Keyboard {
    std::unique_ptr<platform::SystemShortcuts> system;
    std::optional<core::shortcuts::KeyboardLayout> fallback;

    Keyboard() {
        if (auto created = platform::SystemShortcuts::create(nullptr)) {
            system = *std::move(created);
        } else if (auto us = core::shortcuts::KeyboardLayout::fromNames("us")) {
            fallback.emplace(*std::move(us));
        }
    }

    [[nodiscard]] const core::shortcuts::KeyboardLayout* layout() const {
        return system ? &system->layout() : (fallback ? &*fallback : nullptr);
    }
};

CommandResult printShortcut(const std::optional<Shortcut>& shortcut, const Keyboard& keyboard, Context& context) {
    context.console.out << (shortcut ? core::shortcuts::wordsDescription(*shortcut, keyboard.layout()) : "(none)")
                        << "\n";
    return {};
}

CommandResult stored(std::expected<void, std::string> written) {
    if (!written) {
        return std::unexpected(failure("cannot store the shortcut: " + written.error()));
    }
    return {};
}

} // namespace

CommandResult runShortcutShow(Context& context) {
    return printShortcut(currentShortcut(context.stores.settings()), Keyboard(), context);
}

CommandResult runShortcutSet(const std::string& words, bool force, Context& context) {
    const Keyboard keyboard;
    if (keyboard.layout() == nullptr) {
        return std::unexpected(failure("cannot read any keyboard layout to find the keys"));
    }
    const auto shortcut = core::shortcuts::parseWords(words, *keyboard.layout());
    if (!shortcut) {
        return std::unexpected(usageError(shortcut.error()));
    }
    if (const auto refusal = core::shortcuts::refusalOf(*shortcut)) {
        return std::unexpected(usageError(words + " cannot be the shortcut: " + *refusal));
    }
    for (const auto& item : core::shortcuts::menuItemShortcuts()) {
        if (item.shortcut == *shortcut) {
            return std::unexpected(
                failure(core::shortcuts::localizedFormat("keyboard_shortcut_used_by_menu_item", item.title)));
        }
    }
    core::SettingsStore& settings = context.stores.settings();
    // A running Norik holds the stored combination itself.
    if (!force && keyboard.system && keyboard.system->isReserved(*shortcut, currentShortcut(settings))) {
        std::string message(core::shortcuts::localized("keyboard_shortcut_used_by_system"));
        message.append("\n").append(core::shortcuts::localized("keyboard_shortcuts_can_be_changed"));
        message.append("\nAdd --force to use it anyway.");
        return std::unexpected(failure(message));
    }
    if (auto result = stored(settings.set(storageKey(), shortcut->toJson())); !result) {
        return result;
    }
    return printShortcut(*shortcut, keyboard, context);
}

CommandResult runShortcutClear(Context& context) {
    // The disabled marker rather than no entry, so that the default does not come back at the next start.
    return stored(context.stores.settings().set(storageKey(), false));
}

} // namespace norik::cli
