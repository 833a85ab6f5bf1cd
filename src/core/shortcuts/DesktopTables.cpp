// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/shortcuts/DesktopTables.h"

#include <optional>
#include <string>

#include "core/shortcuts/KeyCombination.h"

namespace norik::core::shortcuts {

namespace {

// Calls `onLine` with each line of an INI-style text and the section it is in.
template <typename OnLine> void forEachIniLine(std::string_view text, OnLine onLine) {
    std::string_view section;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with('[') && line.ends_with(']')) {
            section = line.substr(1, line.size() - 2);
        } else if (const auto equals = line.find('='); equals != std::string_view::npos && !line.starts_with('#')) {
            onLine(section, line.substr(0, equals), line.substr(equals + 1));
        }
    }
}

void addWords(std::vector<Shortcut>& shortcuts, std::string_view words, const KeyboardLayout& layout) {
    if (const auto shortcut = parseWords(words, layout)) {
        shortcuts.push_back(*shortcut);
    }
}

std::string xmlUnescaped(std::string_view text) {
    std::string plain;
    while (!text.empty()) {
        bool replaced = false;
        for (const auto& [entity, character] :
             {std::pair{"&lt;", '<'}, std::pair{"&gt;", '>'}, std::pair{"&amp;", '&'}, std::pair{"&quot;", '"'}}) {
            if (text.starts_with(entity)) {
                plain += character;
                text.remove_prefix(std::string_view(entity).size());
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            plain += text.front();
            text.remove_prefix(1);
        }
    }
    return plain;
}

std::optional<std::string_view> attribute(std::string_view tag, std::string_view name) {
    const std::string pattern = " " + std::string(name) + "=\"";
    const auto start = tag.find(pattern);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const auto valueStart = start + pattern.size();
    const auto valueEnd = tag.find('"', valueStart);
    return valueEnd == std::string_view::npos ? std::nullopt
                                              : std::optional(tag.substr(valueStart, valueEnd - valueStart));
}

} // namespace

std::vector<Shortcut> kdeGlobalShortcuts(std::string_view text, const KeyboardLayout& layout) {
    std::vector<Shortcut> shortcuts;
    forEachIniLine(text, [&](std::string_view, std::string_view key, std::string_view value) {
        // The one entry of a component that is no action; "_launch" of an application is a real binding.
        if (key == "_k_friendly_name") {
            return;
        }
        std::string_view active = value.substr(0, value.find(','));
        while (!active.empty()) {
            const auto tab = active.find('\t');
            const std::string_view one = active.substr(0, tab);
            if (one != "none") {
                addWords(shortcuts, one, layout);
            }
            active.remove_prefix(tab == std::string_view::npos ? active.size() : tab + 1);
        }
    });
    return shortcuts;
}

std::vector<Shortcut> fcitx5HotKeys(std::string_view text, const KeyboardLayout& layout) {
    std::vector<Shortcut> shortcuts;
    forEachIniLine(text, [&](std::string_view section, std::string_view, std::string_view value) {
        if (section.starts_with("Hotkey/")) {
            addWords(shortcuts, value, layout);
        }
    });
    return shortcuts;
}

// xfconf writes one property element per line; a property named "custom" holds the user's table, which
// replaces the default one.
std::vector<Shortcut> xfceKeyboardShortcuts(std::string_view text, const KeyboardLayout& layout) {
    std::vector<Shortcut> shortcuts;
    std::vector<std::string> open;
    for (auto start = text.find('<'); start != std::string_view::npos; start = text.find('<', start + 1)) {
        const auto end = text.find('>', start);
        if (end == std::string_view::npos) {
            break;
        }
        const std::string_view tag = text.substr(start, end - start + 1);
        if (tag.starts_with("</property")) {
            if (!open.empty()) {
                open.pop_back();
            }
            continue;
        }
        if (!tag.starts_with("<property ")) {
            continue;
        }
        const std::string name = xmlUnescaped(attribute(tag, "name").value_or(""));
        if (!tag.ends_with("/>")) {
            open.push_back(name);
            continue;
        }
        const bool inCustom = !open.empty() && open.back() == "custom";
        if (inCustom && attribute(tag, "type") == "string" && !attribute(tag, "value").value_or("").empty()) {
            if (const auto shortcut = parseAccelerator(name, layout)) {
                shortcuts.push_back(*shortcut);
            }
        }
    }
    return shortcuts;
}

std::vector<Shortcut> acceleratorShortcuts(const std::vector<std::string>& accelerators, const KeyboardLayout& layout) {
    std::vector<Shortcut> shortcuts;
    for (const std::string& accelerator : accelerators) {
        if (const auto shortcut = parseAccelerator(accelerator, layout)) {
            shortcuts.push_back(*shortcut);
        }
    }
    return shortcuts;
}

} // namespace norik::core::shortcuts
