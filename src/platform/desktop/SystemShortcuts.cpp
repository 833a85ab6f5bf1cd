// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/SystemShortcuts.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <utility>

#include <iterator>

#include "core/shortcuts/DesktopTables.h"
#include "platform/desktop/GSettingsShortcuts.h"

namespace norik::platform {

namespace {

using core::shortcuts::Key;
using core::shortcuts::ModifierFlags;
using core::shortcuts::Shortcut;

// The X protocol's error for a grab that another client holds.
constexpr core::shortcuts::HotKeyStatus kBadAccess = 10;
// Any id: the probe registers one combination at a time and releases it at once.
constexpr std::uint32_t kProbeId = 1;

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void append(std::vector<Shortcut>& to, const std::vector<Shortcut>& shortcuts) {
    to.insert(to.end(), shortcuts.begin(), shortcuts.end());
}

} // namespace

DesktopSources DesktopSources::user() {
    DesktopSources sources;
    if (const std::string_view config = environment("XDG_CONFIG_HOME"); !config.empty()) {
        sources.configHome = config;
    } else if (const std::string_view home = environment("HOME"); !home.empty()) {
        sources.configHome = std::filesystem::path(home) / ".config";
    }
    sources.gnome = environment("XDG_CURRENT_DESKTOP").find("GNOME") != std::string_view::npos;
    sources.ibus = sources.gnome || environment("XMODIFIERS").find("ibus") != std::string_view::npos ||
                   environment("GTK_IM_MODULE") == "ibus" || environment("QT_IM_MODULE") == "ibus";
    return sources;
}

std::vector<Shortcut> desktopShortcuts(const DesktopSources& sources, const core::shortcuts::KeyboardLayout& layout) {
    std::vector<Shortcut> shortcuts = core::shortcuts::acceleratorShortcuts(gsettingsAccelerators(sources), layout);
    if (sources.configHome.empty()) {
        return shortcuts;
    }
    const std::filesystem::path& config = sources.configHome;
    append(shortcuts, core::shortcuts::kdeGlobalShortcuts(fileText(config / "kglobalshortcutsrc"), layout));
    append(shortcuts, core::shortcuts::xfceKeyboardShortcuts(
                          fileText(config / "xfce4/xfconf/xfce-perchannel-xml/xfce4-keyboard-shortcuts.xml"), layout));
    append(shortcuts, core::shortcuts::fcitx5HotKeys(fileText(config / "fcitx5/config"), layout));
    return shortcuts;
}

std::vector<Shortcut> serverReservedShortcuts() {
    constexpr std::array kConsoleKeys{Key::f1, Key::f2, Key::f3, Key::f4,  Key::f5,  Key::f6,
                                      Key::f7, Key::f8, Key::f9, Key::f10, Key::f11, Key::f12};
    const ModifierFlags ctrlAlt = ModifierFlags::command | ModifierFlags::option;
    std::vector<Shortcut> shortcuts;
    shortcuts.reserve(kConsoleKeys.size() + 1);
    for (const Key key : kConsoleKeys) {
        shortcuts.emplace_back(key, ctrlAlt);
    }
    shortcuts.emplace_back(Key::deleteKey, ctrlAlt);
    return shortcuts;
}

std::expected<std::unique_ptr<SystemShortcuts>, std::string> SystemShortcuts::create(const char* display,
                                                                                     DesktopSources sources) {
    auto connection = x11::XcbConnection::open(display);
    if (!connection) {
        return std::unexpected(connection.error());
    }
    auto probe = x11::X11HotKeyBackend::create(connection->get(), connection->screenNumber());
    if (!probe) {
        return std::unexpected(probe.error());
    }
    return std::unique_ptr<SystemShortcuts>(
        new SystemShortcuts(*std::move(connection), *std::move(probe), std::move(sources)));
}

SystemShortcuts::SystemShortcuts(x11::XcbConnection connection, std::unique_ptr<x11::X11HotKeyBackend> probe,
                                 DesktopSources sources)
    : m_connection(std::move(connection)), m_probe(std::move(probe)), m_sources(std::move(sources)) {}

// The probe goes before the connection it talks on.
SystemShortcuts::~SystemShortcuts() {
    m_probe.reset();
}

bool SystemShortcuts::isGrabbedByAnother(const Shortcut& shortcut) const {
    const auto grabbed = m_probe->registerHotKey(kProbeId, core::shortcuts::chordFor(shortcut));
    if (grabbed) {
        m_probe->unregisterHotKey(kProbeId);
        return false;
    }
    return grabbed.error() == kBadAccess;
}

bool SystemShortcuts::isReserved(const Shortcut& shortcut, const std::optional<Shortcut>& ownGrab) const {
    if (shortcut != ownGrab && isGrabbedByAnother(shortcut)) {
        return true;
    }
    std::vector<Shortcut> known = serverReservedShortcuts();
    append(known, desktopShortcuts(m_sources, layout()));
    return std::ranges::find(known, shortcut) != known.end();
}

} // namespace norik::platform
