// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <sqlite3.h>

// Internal to norik_history: the SQLite connection behind a NorikStore.
namespace norik::core {

// Failures carry SQLite's own message; callers only report them.
template <typename T> using SqlResult = std::expected<T, std::string>;

struct SqliteCloser {
    void operator()(sqlite3* database) const noexcept { sqlite3_close_v2(database); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// A cached statement lent out for one use. Resetting it on scope exit ends any read it holds open and
// hands it back to the cache clean.
class Statement {
public:
    explicit Statement(sqlite3_stmt* statement) noexcept : m_statement(statement) {}
    ~Statement();

    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept
        : m_statement(std::exchange(other.m_statement, nullptr)), m_bindResult(other.m_bindResult) {}
    Statement& operator=(Statement&&) = delete;

    // Parameters count from 1. A failed bind surfaces from the next step().
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view value);

    // True while a row is ready, false once done.
    [[nodiscard]] SqlResult<bool> step();
    // Steps to the end, for statements that return nothing of interest.
    [[nodiscard]] SqlResult<void> run();

    [[nodiscard]] std::int64_t int64At(int column) const;
    [[nodiscard]] std::string textAt(int column) const;

private:
    [[nodiscard]] std::string errorText(int result) const;

    sqlite3_stmt* m_statement;
    int m_bindResult = SQLITE_OK;
};

class SqliteConnection {
public:
    static constexpr std::int64_t kSchemaVersion = 1;

    // Opens, checks that the file reads as a database before anything writes to it, switches to WAL and
    // brings the schema to kSchemaVersion. The error is the reason, for one line on standard error.
    [[nodiscard]] static SqlResult<std::unique_ptr<SqliteConnection>> open(const std::filesystem::path& file);

    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    SqliteConnection(SqliteConnection&&) = delete;
    SqliteConnection& operator=(SqliteConnection&&) = delete;
    ~SqliteConnection() = default;

    // Prepared once per connection and kept: `sql` must be a string literal, its text is the cache key.
    [[nodiscard]] SqlResult<Statement> prepare(const char* sql);

    // BEGIN IMMEDIATE takes the write lock up front (waiting out the busy time-out), so a transaction that
    // has read never fails later for another process having written in between.
    template <typename Work> [[nodiscard]] SqlResult<void> writeTransaction(Work&& work) {
        if (auto begun = runCached("BEGIN IMMEDIATE"); !begun) {
            return begun;
        }
        SqlResult<void> outcome = std::forward<Work>(work)();
        if (outcome) {
            outcome = runCached("COMMIT");
        }
        if (!outcome) {
            rollback();
        }
        return outcome;
    }

    // The first failure in the process goes to standard error; later ones stay silent so a broken store
    // cannot flood the terminal.
    void reportFailureOnce(std::string_view reason) const;

private:
    SqliteConnection(SqliteHandle database, std::filesystem::path file) noexcept
        : m_database(std::move(database)), m_file(std::move(file)) {}

    [[nodiscard]] SqlResult<void> runCached(const char* sql);
    [[nodiscard]] SqlResult<std::int64_t> readInteger(const char* sql);
    [[nodiscard]] SqlResult<std::string> readText(const char* sql);
    [[nodiscard]] SqlResult<void> runScript(const std::string& sql);
    [[nodiscard]] SqlResult<void> migrate();
    void rollback() noexcept;

    // Declared first so that it is closed last, after the cached statements.
    SqliteHandle m_database;
    std::filesystem::path m_file;
    std::unordered_map<std::string_view, StatementHandle> m_statements;
};

} // namespace norik::core
