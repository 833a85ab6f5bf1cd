// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart/Autostart.h"

#include <string_view>
#include <system_error>
#include <utility>

#include "core/AppInfo.h"
#include "core/preferences/FileStorage.h"
#include "core/xdg/BaseDirectories.h"

namespace norik::platform {

namespace {

std::filesystem::path currentExecutable() {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("norik") : executable;
}

// A desktop-entry string value: the backslash is the file's escape character.
std::string escapeValue(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// One argument of an Exec line: quoted when it holds any character the launcher would split on or
// interpret, with the four characters that stay special inside quotes escaped; "%" is a field code unless doubled.
std::string execArgument(std::string_view argument) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    constexpr std::string_view kEscapedInQuotes = "\"`$\\";
    std::string quoted;
    const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    for (const char c : argument) {
        if (quote && kEscapedInQuotes.find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c == '%' ? std::string_view("%%") : std::string_view(&c, 1);
    }
    return quote ? '"' + quoted + '"' : quoted;
}

std::string entryText(const std::filesystem::path& executable) {
    std::string text = "[Desktop Entry]\nType=Application\nName=";
    text.append(core::kAppName).append("\nComment=Writing tutor in the system tray\n");
    text.append("Exec=").append(escapeValue(execArgument(executable.string()))).append("\n");
    text.append("TryExec=").append(escapeValue(executable.string())).append("\n");
    text.append("Icon=").append(core::kAppId).append("\nTerminal=false\n");
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Only the main group counts: actions and other groups may reuse its keys.
bool switchedOn(std::string_view entry) {
    bool inMainGroup = false;
    while (!entry.empty()) {
        const auto end = entry.find('\n');
        const std::string_view line = trimmed(entry.substr(0, end));
        entry = end == std::string_view::npos ? std::string_view() : entry.substr(end + 1);
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

} // namespace

Autostart::Autostart() : Autostart(defaultEntryFile(), currentExecutable()) {}

Autostart::Autostart(std::filesystem::path entryFile, std::filesystem::path executable)
    : m_entryFile(std::move(entryFile)), m_executable(std::move(executable)) {}

std::filesystem::path Autostart::defaultEntryFile() {
    return core::xdg::configHome() / "autostart" / (std::string(core::kAppId) + ".desktop");
}

bool Autostart::enabled() const {
    const auto contents = core::storage::readFile(m_entryFile);
    return contents && *contents && switchedOn(**contents);
}

std::expected<void, std::string> Autostart::setEnabled(bool on) {
    if (on) {
        if (auto folder = core::storage::ensureDirectory(m_entryFile.parent_path()); !folder) {
            return folder;
        }
        using std::filesystem::perms;
        return core::storage::replaceFile(m_entryFile, entryText(m_executable),
                                          perms::owner_read | perms::owner_write | perms::group_read |
                                              perms::others_read);
    }
    std::error_code error;
    std::filesystem::remove(m_entryFile, error);
    if (error) {
        return std::unexpected("cannot remove " + m_entryFile.string() + ": " + error.message());
    }
    return {};
}

} // namespace norik::platform
