// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QKeySequence>
#include <QString>

#include "core/shortcuts/KeyboardLayout.h"
#include "core/shortcuts/Registry.h"
#include "core/shortcuts/Shortcut.h"
#include "platform/desktop/TriggerRoute.h"

namespace norik::app {

// How the review shortcut reaches Norik in this session, and what the row next to the recorder offers.
struct TriggerRouteState {
    platform::desktop::TriggerRoute route = platform::desktop::TriggerRoute::x11Grab;
    // The portal's own text for the keys the desktop assigned; empty while it has assigned none.
    std::function<QString()> assignedTrigger;
    // Whether GNOME lists Norik's custom shortcut.
    std::function<bool()> gnomeEntryInstalled;
    // Adds Norik's custom shortcut to GNOME's; the reason when GNOME refused it.
    std::function<std::optional<QString>()> installGnomeEntry;
};

// What shortcut recorders and shortcut bindings of the app share: the registry, the keyboard layout that
// names keys, and the system's own shortcuts. Borrowed by every recorder; must outlive them. Main thread only.
struct RecorderContext {
    core::shortcuts::Registry& registry;
    // Null: keys outside the special ones show as U+FFFD and key sequences cannot be read.
    const core::shortcuts::KeyboardLayout* layout = nullptr;
    // Whether the system already uses the combination; empty when the system cannot be asked.
    std::function<bool(const core::shortcuts::Shortcut&)> isSystemShortcut;
    // How the review shortcut reaches Norik where its own grab does not: shown beside the review recorders.
    TriggerRouteState triggerRoute = {};

    // "Ctrl+Alt+Space".
    [[nodiscard]] QString describe(const core::shortcuts::Shortcut& shortcut) const;
    // The shortcut of a Qt key sequence's first combination; absent when it names no key of the key table.
    [[nodiscard]] std::optional<core::shortcuts::Shortcut> shortcutOf(const QKeySequence& sequence) const;
    // The Qt key sequence for a shortcut; empty for keypad keys and keys Qt cannot name.
    [[nodiscard]] QKeySequence keySequenceOf(const core::shortcuts::Shortcut& shortcut) const;
};

} // namespace norik::app
