// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/SettingsStore.h"

#include <limits>
#include <utility>

#include <cmath>
#include <nlohmann/json.hpp>

#include "core/log/Problems.h"
#include "core/preferences/FileStorage.h"
#include "core/xdg/BaseDirectories.h"

namespace norik::core {

namespace {

using Json = nlohmann::json;

constexpr auto kFilePermissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

std::optional<Json> parseObject(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    return document;
}

std::optional<SettingValue> fromJson(const Json& json) {
    switch (json.type()) {
    case Json::value_t::string:
        return SettingValue(json.get<std::string>());
    case Json::value_t::boolean:
        return SettingValue(json.get<bool>());
    case Json::value_t::number_integer:
        return SettingValue(json.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
        // The parser stores every non-negative integer as unsigned; only those beyond 64-bit signed are foreign.
        const auto number = json.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return SettingValue(static_cast<std::int64_t>(number));
    }
    case Json::value_t::number_float:
        return SettingValue(json.get<double>());
    default:
        return std::nullopt;
    }
}

Json toJson(const SettingValue& value) {
    return std::visit([](const auto& alternative) { return Json(alternative); }, value);
}

// Under the lock. Moves a corrupt file aside; fails when an existing file cannot be read, because
// rewriting it would destroy whatever it holds.
std::expected<Json, std::string> loadLocked(const std::filesystem::path& file) {
    auto text = storage::readFile(file);
    if (!text) {
        return std::unexpected(text.error());
    }
    if (!*text) {
        return Json::object();
    }
    if (auto document = parseObject(**text)) {
        return *std::move(document);
    }
    auto moved = storage::moveAside(file);
    if (!moved) {
        return std::unexpected(moved.error());
    }
    reportProblem({Problem::Kind::fileSetAside, file, moved->string(),
                   "norik: warning: " + file.string() + " is not a JSON object; moved it to " + moved->string() +
                       " and continuing with default settings"});
    return Json::object();
}

// Reads take no lock: the atomic rename guarantees a whole document. Only a corrupt file needs the lock,
// so that a single process moves it aside and a file repaired meanwhile is left alone.
Json load(const std::filesystem::path& file, const std::filesystem::path& lockFile) {
    auto text = storage::readFile(file);
    if (!text || !*text) {
        return Json::object();
    }
    if (auto document = parseObject(**text)) {
        return *std::move(document);
    }
    const auto lock = storage::FileLock::acquire(lockFile);
    if (!lock) {
        return Json::object();
    }
    return loadLocked(file).value_or(Json::object());
}

std::expected<void, std::string> write(const std::filesystem::path& file, const Json& document) {
    std::string text;
    try {
        text = document.dump(4) + "\n";
    } catch (const Json::exception&) {
        return std::unexpected("a settings key or value is not valid UTF-8");
    }
    return storage::replaceFile(file, text, kFilePermissions);
}

// One read-modify-write under the lock; `change` returns whether the document needs writing.
template <typename Change>
std::expected<void, std::string> update(const std::filesystem::path& file, const std::filesystem::path& lockFile,
                                        Change&& change) {
    if (auto folder = storage::ensureDirectory(file.parent_path()); !folder) {
        return folder;
    }
    const auto lock = storage::FileLock::acquire(lockFile);
    if (!lock) {
        return std::unexpected(lock.error());
    }
    auto document = loadLocked(file);
    if (!document) {
        return std::unexpected(document.error());
    }
    if (!std::forward<Change>(change)(*document)) {
        return {};
    }
    return write(file, *document);
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultPath()) {}

SettingsStore::SettingsStore(std::filesystem::path file)
    : m_file(std::move(file)), m_lockFile(m_file.string() + ".lock") {}

std::filesystem::path SettingsStore::defaultPath() {
    return xdg::configHome() / "norik" / "settings.json";
}

std::optional<SettingValue> SettingsStore::value(std::string_view key) const {
    const Json document = load(m_file, m_lockFile);
    const auto found = document.find(key);
    if (found == document.end()) {
        return std::nullopt;
    }
    return fromJson(*found);
}

template <typename T> std::optional<T> SettingsStore::typed(std::string_view key) const {
    std::optional<SettingValue> stored = value(key);
    if (T* alternative = stored ? std::get_if<T>(&*stored) : nullptr) {
        return std::move(*alternative);
    }
    return std::nullopt;
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    return typed<std::string>(key);
}

std::optional<std::int64_t> SettingsStore::integer(std::string_view key) const {
    return typed<std::int64_t>(key);
}

std::optional<bool> SettingsStore::boolean(std::string_view key) const {
    return typed<bool>(key);
}

std::optional<double> SettingsStore::number(std::string_view key) const {
    return typed<double>(key);
}

std::map<std::string, SettingValue> SettingsStore::all() const {
    std::map<std::string, SettingValue> values;
    const Json document = load(m_file, m_lockFile);
    for (const auto& [key, json] : document.items()) {
        if (auto converted = fromJson(json)) {
            values.emplace(key, *std::move(converted));
        }
    }
    return values;
}

std::expected<void, std::string> SettingsStore::set(std::string_view key, const SettingValue& value) {
    if (const auto* number = std::get_if<double>(&value); number != nullptr && !std::isfinite(*number)) {
        return std::unexpected("the value of " + std::string(key) + " is not a finite number");
    }
    return update(m_file, m_lockFile, [&](Json& document) {
        document[std::string(key)] = toJson(value);
        return true;
    });
}

std::expected<void, std::string> SettingsStore::remove(std::string_view key) {
    return update(m_file, m_lockFile, [&](Json& document) { return document.erase(std::string(key)) > 0; });
}

} // namespace norik::core
