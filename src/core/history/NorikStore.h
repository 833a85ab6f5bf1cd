// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace norik::core {

class SqliteConnection;

// Norik's one database file. Opening never fails towards the caller: a file that cannot be used leaves
// the store unavailable (said once on standard error), and everything built on it goes on without
// history. The file is shared with other Norik processes (WAL, busy time-out), but one instance must be
// used from one thread at a time.
class NorikStore {
public:
    // Opened on first access at defaultLocation().
    [[nodiscard]] static NorikStore& shared();

    // $XDG_DATA_HOME/<app id>/norik.store, with ~/.local/share when XDG_DATA_HOME is unset or relative.
    [[nodiscard]] static std::filesystem::path defaultLocation();

    // Creates the file (and its folder) when missing; an existing file is never created anew or rewritten
    // unless it reads as a database.
    explicit NorikStore(std::filesystem::path file);
    ~NorikStore();

    NorikStore(const NorikStore&) = delete;
    NorikStore& operator=(const NorikStore&) = delete;
    NorikStore(NorikStore&&) = delete;
    NorikStore& operator=(NorikStore&&) = delete;

    [[nodiscard]] bool isAvailable() const noexcept { return m_connection != nullptr; }
    // Why the store is unavailable; empty while it is available.
    [[nodiscard]] const std::string& unavailableReason() const noexcept { return m_unavailableReason; }
    [[nodiscard]] const std::filesystem::path& location() const noexcept { return m_location; }

private:
    friend class HistoryStore;

    // Null when unavailable.
    [[nodiscard]] SqliteConnection* connection() const noexcept { return m_connection.get(); }

    std::filesystem::path m_location;
    std::unique_ptr<SqliteConnection> m_connection;
    std::string m_unavailableReason;
};

} // namespace norik::core
