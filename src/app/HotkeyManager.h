// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include "core/shortcuts/NorikShortcuts.h"
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

    // "reviewSelection", by default Ctrl+Alt+Space (Carbon's Option+Command+Space). Defined here, so that the
    // windows that record it need no more than this header.
    [[nodiscard]] static const core::shortcuts::Name& reviewSelection() {
        static const core::shortcuts::Name name{
            "reviewSelection",
            core::shortcuts::Shortcut(core::shortcuts::Key::space, core::shortcuts::ModifierFlags::option |
                                                                       core::shortcuts::ModifierFlags::command)};
        return name;
    }

    void setOnTrigger(std::function<void()> onTrigger);

    // Declares the name (storing its default when nothing is stored yet) and adds the key-down action. Call it
    // once: each further call adds one more action, and every press would then trigger once per action. From
    // then on a shortcut that another process stores (`norik shortcut set`) takes effect at once.
    void start();

private:
    void followStore();

    core::shortcuts::Registry& m_registry;
    std::function<void()> m_onTrigger;
    QFileSystemWatcher m_watcher;
    QTimer m_reload;
};

} // namespace norik::app
