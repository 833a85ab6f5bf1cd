// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include <QAction>
#include <QWidget>

#include "app/shortcuts/RecorderContext.h"
#include "core/shortcuts/Shortcut.h"

// Ties Qt actions and widgets to named shortcuts. Norik's own menus use none of this: its one global shortcut
// has no menu item that shows it. Main thread only; the context must outlive the actions and widgets bound.
namespace norik::app {

// Keeps the action's shortcut equal to the name's shortcut, following every change; without a name the
// action's shortcut is cleared and an earlier binding ends. A later call replaces the binding.
void bindShortcut(QAction& action, RecorderContext& context, const std::optional<core::shortcuts::Name>& name);

// As bindShortcut, but the action carries no shortcut while any shortcut recorder records, so that the
// recorder gets the combination instead.
void bindShortcutOutsideRecording(QAction& action, RecorderContext& context, const core::shortcuts::Name& name);

// Calls `onEvent` with each press and release of the name's global shortcut for as long as the widget lives.
void onKeyboardShortcut(QWidget& widget, RecorderContext& context, const core::shortcuts::Name& name,
                        std::function<void(core::shortcuts::EventType)> onEvent);
// The same, for one kind of event only.
void onKeyboardShortcut(QWidget& widget, RecorderContext& context, const core::shortcuts::Name& name,
                        core::shortcuts::EventType type, std::function<void()> onEvent);

} // namespace norik::app
