// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/shortcuts/KeyboardLayout.h"
#include "core/shortcuts/Shortcut.h"
#include "platform/x11/X11HotKeyBackend.h"
#include "platform/x11/XcbHandles.h"

namespace norik::platform {

// Where the desktops keep their shortcut tables. user() describes this session; tests point elsewhere.
struct DesktopSources {
    // $XDG_CONFIG_HOME or ~/.config: KDE's, Xfce's and fcitx5's files.
    std::filesystem::path configHome;
    // GSettings schemas: the system's when empty, else only those compiled in this folder.
    std::filesystem::path schemaDirectory;
    // The schemas' defaults instead of the user's dconf database.
    bool memoryBackend = false;
    // Whether GNOME's and IBus's tables apply: their schemas are installed on many desktops that never use them.
    bool gnome = false;
    bool ibus = false;

    [[nodiscard]] static DesktopSources user();
};

// The combinations that the desktop's own tables bind, from whichever of GNOME (window manager, shell, mutter,
// media keys and the custom key bindings), KDE, Xfce, IBus and fcitx5 are present. Never fails: a table that
// cannot be read adds nothing.
[[nodiscard]] std::vector<core::shortcuts::Shortcut> desktopShortcuts(const DesktopSources& sources,
                                                                      const core::shortcuts::KeyboardLayout& layout);

// The combinations that no grab reveals, since the X server or the kernel's consoles take them before any
// client: Ctrl+Alt+F1…F12 (switch to a console) and Ctrl+Alt+Backspace (end the X server).
[[nodiscard]] std::vector<core::shortcuts::Shortcut> serverReservedShortcuts();

// Tells whether the system already uses a combination. It probes on an X connection of its own: a checked
// grab of the combination (with every lock variant) on the root window, released at once; only a refusal
// because another client holds it counts. Then the reserved and the desktop's combinations. Main thread only.
class SystemShortcuts {
public:
    // `display` as in $DISPLAY, null for $DISPLAY itself. Fails without an X server.
    [[nodiscard]] static std::expected<std::unique_ptr<SystemShortcuts>, std::string>
    create(const char* display, DesktopSources sources = DesktopSources::user());
    SystemShortcuts(const SystemShortcuts&) = delete;
    SystemShortcuts& operator=(const SystemShortcuts&) = delete;
    ~SystemShortcuts();

    // `ownGrab` is the combination this program holds itself, which is no conflict.
    [[nodiscard]] bool isReserved(const core::shortcuts::Shortcut& shortcut,
                                  const std::optional<core::shortcuts::Shortcut>& ownGrab) const;
    // Whether another X client holds a grab of the combination.
    [[nodiscard]] bool isGrabbedByAnother(const core::shortcuts::Shortcut& shortcut) const;

    // The server's current keyboard layout.
    [[nodiscard]] const core::shortcuts::KeyboardLayout& layout() const { return m_probe->layout(); }

private:
    SystemShortcuts(x11::XcbConnection connection, std::unique_ptr<x11::X11HotKeyBackend> probe,
                    DesktopSources sources);

    x11::XcbConnection m_connection;
    std::unique_ptr<x11::X11HotKeyBackend> m_probe;
    DesktopSources m_sources;
};

} // namespace norik::platform
