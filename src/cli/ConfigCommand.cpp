// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ConfigCommand.h"

#include <algorithm>
#include <map>
#include <optional>
#include <variant>

#include "core/preferences/Preferences.h"
#include "core/text/Text.h"

namespace norik::cli {

namespace {

using core::SettingKey;

const SettingKey* findKey(std::string_view name) {
    const auto keys = core::settingKeys();
    const auto found = std::ranges::find(keys, name, &SettingKey::name);
    return found == keys.end() ? nullptr : &*found;
}

CommandError unknownKey(std::string_view name) {
    std::string message = "unknown setting \"";
    message.append(name).append("\"; known settings: ");
    bool first = true;
    for (const SettingKey& key : core::settingKeys()) {
        message.append(first ? "" : ", ").append(key.name);
        first = false;
    }
    return usageError(message);
}

// The stored value as text when it has the key's type; Preferences reads any other value as the default.
std::optional<std::string> storedText(const SettingKey& key, const std::map<std::string, core::SettingValue>& stored) {
    const auto found = stored.find(std::string(key.name));
    if (found == stored.end()) {
        return std::nullopt;
    }
    const core::SettingValue& value = found->second;
    switch (key.type) {
    case SettingKey::Type::string:
        if (const auto* text = std::get_if<std::string>(&value)) {
            return *text;
        }
        break;
    case SettingKey::Type::integer:
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            return std::to_string(*number);
        }
        break;
    case SettingKey::Type::boolean:
        if (const auto* flag = std::get_if<bool>(&value)) {
            return *flag ? "true" : "false";
        }
        break;
    }
    return std::nullopt;
}

// An empty value would be invisible at the end of a line.
std::string shown(std::string_view text) {
    return text.empty() ? "\"\"" : std::string(text);
}

} // namespace

CommandResult runConfigList(Context& context) {
    const auto stored = context.stores.settings().all();
    std::size_t width = 0;
    for (const SettingKey& key : core::settingKeys()) {
        width = std::max(width, key.name.size());
    }
    for (const SettingKey& key : core::settingKeys()) {
        std::string line(key.name);
        line.append(width - key.name.size(), ' ').append(" = ");
        if (const auto text = storedText(key, stored)) {
            line.append(shown(*text));
        } else {
            line.append(context.console.style.dim("(default: " + shown(key.defaultText) + ")"));
        }
        context.console.out << line << "\n";
    }
    return {};
}

CommandResult runConfigGet(const std::string& key, Context& context) {
    const SettingKey* known = findKey(key);
    if (known == nullptr) {
        return std::unexpected(unknownKey(key));
    }
    const auto text = storedText(*known, context.stores.settings().all());
    context.console.out << text.value_or(std::string(known->defaultText)) << "\n";
    return {};
}

CommandResult runConfigSet(const std::string& key, const std::string& value, Context& context) {
    if (findKey(key) == nullptr) {
        return std::unexpected(unknownKey(key));
    }
    if (!core::text::isValidUtf8(value)) {
        return std::unexpected(usageError("the value is not valid UTF-8"));
    }
    if (auto set = context.stores.preferences().setFromText(key, value); !set) {
        // setFromText tells a refused value and a failed write apart only in words: a refusal says that
        // the key "must be" something, a failed write names the file it could not write.
        const bool refused = set.error().starts_with(key + " must be ");
        return std::unexpected(refused ? usageError(set.error()) : failure(set.error()));
    }
    return {};
}

CommandResult runConfigUnset(const std::string& key, Context& context) {
    if (findKey(key) == nullptr) {
        return std::unexpected(unknownKey(key));
    }
    if (auto removed = context.stores.settings().remove(key); !removed) {
        return std::unexpected(failure(removed.error()));
    }
    return {};
}

} // namespace norik::cli
