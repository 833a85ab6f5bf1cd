// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <string>

namespace norik::platform {

// Starting Norik when the user logs in, through an entry in the user's autostart folder that the desktop
// session runs at login ($XDG_CONFIG_HOME/autostart/<app id>.desktop, by the XDG autostart rules). The file is
// the whole state: nothing else remembers the choice, so an entry removed by hand, or switched off by the
// desktop's own start-up settings, reads as off. The entry names the program with TryExec, so that once the
// program is uninstalled the session skips the entry left in the user's folder.
//
// Small blocking file operations; use from one thread at a time. Nothing is cached: every call looks at the file.
class Autostart {
public:
    // The entry of this user (XDG_CONFIG_HOME as it is now), starting the executable of this process.
    Autostart();
    // The entry `entryFile`, starting `executable` (an absolute path).
    Autostart(std::filesystem::path entryFile, std::filesystem::path executable);

    // Whether the desktop will start Norik at login: the entry exists and is neither hidden (Hidden=true) nor
    // switched off by GNOME's key (X-GNOME-Autostart-enabled=false). An entry that cannot be read is off.
    [[nodiscard]] bool enabled() const;

    // On: writes the entry anew, creating the folder and replacing an entry that was switched off or that
    // starts another copy of Norik; the file is replaced in one step, so the session never reads half of it.
    // Off: removes the entry; an absent entry is already off. The error is a sentence naming the file.
    [[nodiscard]] std::expected<void, std::string> setEnabled(bool on);

    [[nodiscard]] const std::filesystem::path& entryFile() const { return m_entryFile; }
    [[nodiscard]] const std::filesystem::path& executable() const { return m_executable; }

    // $XDG_CONFIG_HOME/autostart/<app id>.desktop, falling back to ~/.config as XDG prescribes.
    [[nodiscard]] static std::filesystem::path defaultEntryFile();

private:
    std::filesystem::path m_entryFile;
    std::filesystem::path m_executable;
};

} // namespace norik::platform
