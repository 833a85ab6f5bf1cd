// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace norik::core {

using SettingValue = std::variant<std::string, std::int64_t, bool, double>;

// Typed settings under text keys, kept in one JSON object file ($XDG_CONFIG_HOME/norik/settings.json by
// default). Types survive a round trip: an integer stays an integer, the string "200" stays a string.
// Values of other JSON types (arrays, objects, null, integers beyond 64 bits) read as absent and are
// kept untouched when the file is rewritten.
//
// Guarantees:
// - Every read goes to the file, so a change written by another process is seen by the next read (parsing
//   the small file costs microseconds; see bench/PreferencesBench.cpp). A file that cannot be read reads as
//   empty, and writes then fail rather than replace it.
// - A write is durable when set()/remove() returns, and the file is replaced atomically: a reader or a
//   crash sees the old or the new document, never a torn one.
// - Each read-modify-write holds an exclusive flock on "<file>.lock", so concurrent writers in any number of
//   processes and threads never lose each other's changes.
// - The object holds no mutable state: all members may be called from any thread at the same time.
// - A file that is not a JSON object is renamed to "<file>.corrupt-<UTC time>" with one warning on
//   standard error, and the store continues from an empty document; nothing the user wrote is deleted.
class SettingsStore {
public:
    SettingsStore();
    explicit SettingsStore(std::filesystem::path file);

    [[nodiscard]] static std::filesystem::path defaultPath();
    [[nodiscard]] const std::filesystem::path& path() const { return m_file; }

    [[nodiscard]] std::optional<SettingValue> value(std::string_view key) const;
    // Absent when the key is missing or holds another type.
    [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
    [[nodiscard]] std::optional<std::int64_t> integer(std::string_view key) const;
    [[nodiscard]] std::optional<bool> boolean(std::string_view key) const;
    [[nodiscard]] std::optional<double> number(std::string_view key) const;
    [[nodiscard]] std::map<std::string, SettingValue> all() const;

    // Fails on an I/O error, on text that is not valid UTF-8, and on a double that is not finite
    // (JSON cannot represent it); the file is unchanged then.
    [[nodiscard]] std::expected<void, std::string> set(std::string_view key, const SettingValue& value);
    // Removing a missing key succeeds without writing.
    [[nodiscard]] std::expected<void, std::string> remove(std::string_view key);

private:
    template <typename T> [[nodiscard]] std::optional<T> typed(std::string_view key) const;

    std::filesystem::path m_file;
    std::filesystem::path m_lockFile;
};

} // namespace norik::core
