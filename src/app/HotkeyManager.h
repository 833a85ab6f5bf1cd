// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QObject>

#include "core/shortcuts/Registry.h"
#include "core/shortcuts/Shortcut.h"

namespace norik::app {

// Turns each key-down of the review shortcut into a call of onTrigger. The action is bound to the shortcut's
// name, not to a key combination, so a combination recorded later in the settings applies without this class
// hearing of it. Main thread only.
class HotkeyManager final : public QObject {
    Q_OBJECT

public:
    explicit HotkeyManager(core::shortcuts::Registry& registry, QObject* parent = nullptr);

    // "reviewSelection", by default Ctrl+Alt+Space (Carbon's Option+Command+Space).
    [[nodiscard]] static const core::shortcuts::Name& reviewSelection();

    void setOnTrigger(std::function<void()> onTrigger);

    // Declares the name (storing its default when nothing is stored yet) and adds the key-down action. Call it
    // once: each further call adds one more action, and every press would then trigger once per action.
    void start();

private:
    core::shortcuts::Registry& m_registry;
    std::function<void()> m_onTrigger;
};

} // namespace norik::app
