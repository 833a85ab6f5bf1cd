// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history/SqliteConnection.h"

#include <array>
#include <atomic>
#include <system_error>

#include <cstdio>

#include "core/log/Problems.h"

namespace norik::core {

namespace {

// Long enough to wait out another Norik process's write, short enough not to hang the tray for long.
constexpr int kBusyTimeoutMs = 5000;

// Step i brings the schema from version i to i + 1; a later version appends its step.
constexpr std::array<const char*, 1> kMigrations{
    R"sql(
    CREATE TABLE Correction (
        createdAt INTEGER NOT NULL DEFAULT (CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER) * 1000),
        language TEXT NOT NULL DEFAULT '',
        source TEXT NOT NULL DEFAULT '',
        corrected TEXT NOT NULL DEFAULT '',
        improved TEXT NOT NULL DEFAULT '',
        score INTEGER NOT NULL DEFAULT 0
    );
    CREATE TABLE MistakePattern (
        category TEXT NOT NULL DEFAULT '',
        count INTEGER NOT NULL DEFAULT 0,
        lastSeen INTEGER NOT NULL DEFAULT (CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER) * 1000)
    );
    )sql",
};
static_assert(kMigrations.size() == SqliteConnection::kSchemaVersion);

std::atomic<bool> g_failureReported{false};

std::string connectionError(sqlite3* database, int result) {
    return database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(result);
}

} // namespace

Statement::~Statement() {
    if (m_statement != nullptr) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (m_bindResult == SQLITE_OK) {
        m_bindResult = sqlite3_bind_int64(m_statement, index, value);
    }
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    if (m_bindResult == SQLITE_OK) {
        m_bindResult =
            sqlite3_bind_text64(m_statement, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    return *this;
}

SqlResult<bool> Statement::step() {
    if (m_bindResult != SQLITE_OK) {
        return std::unexpected(errorText(m_bindResult));
    }
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result == SQLITE_DONE) {
        return false;
    }
    return std::unexpected(errorText(result));
}

SqlResult<void> Statement::run() {
    for (;;) {
        const auto row = step();
        if (!row) {
            return std::unexpected(row.error());
        }
        if (!*row) {
            return {};
        }
    }
}

std::int64_t Statement::int64At(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string Statement::textAt(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                           : std::string();
}

std::string Statement::errorText(int result) const {
    // errmsg describes the connection's latest call, which for a failed bind is not the bind itself.
    sqlite3* database = sqlite3_db_handle(m_statement);
    std::string text = sqlite3_errcode(database) == result ? sqlite3_errmsg(database) : sqlite3_errstr(result);
    if (const char* sql = sqlite3_sql(m_statement); sql != nullptr) {
        text += " (in: ";
        text += sql;
        text += ')';
    }
    return text;
}

SqlResult<std::unique_ptr<SqliteConnection>> SqliteConnection::open(const std::filesystem::path& file) {
    if (file.empty()) {
        return std::unexpected("no data folder: neither XDG_DATA_HOME nor HOME is set");
    }
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (std::filesystem::is_directory(status)) {
        return std::unexpected("a folder is in the way of the file");
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    if (!std::filesystem::exists(status)) {
        // A folder that cannot be made shows up as a failed open below, with SQLite's reason.
        std::filesystem::create_directories(file.parent_path(), error);
        flags |= SQLITE_OPEN_CREATE;
    }

    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteHandle database{raw};
    if (opened != SQLITE_OK) {
        return std::unexpected(connectionError(raw, opened));
    }
    // SQLite falls back to read-only on a file it may not write, which would fail every record later.
    if (sqlite3_db_readonly(database.get(), "main") == 1) {
        return std::unexpected("the file is read-only");
    }
    sqlite3_busy_timeout(database.get(), kBusyTimeoutMs);

    std::unique_ptr<SqliteConnection> connection{new SqliteConnection(std::move(database), file)};
    // Only reads until the file has shown itself to be a database: switching to WAL would write to
    // whatever the file is.
    if (auto readable = connection->readInteger("PRAGMA schema_version"); !readable) {
        return std::unexpected(readable.error());
    }
    const auto version = connection->readInteger("PRAGMA user_version");
    if (!version) {
        return std::unexpected(version.error());
    }
    if (*version > kSchemaVersion) {
        return std::unexpected("written by a newer Norik (schema version " + std::to_string(*version) + ")");
    }
    if (auto journal = connection->readText("PRAGMA journal_mode = WAL"); !journal) {
        return std::unexpected(journal.error());
    }
    if (auto synchronous = connection->runScript("PRAGMA synchronous = NORMAL"); !synchronous) {
        return std::unexpected(synchronous.error());
    }
    if (*version < kSchemaVersion) {
        if (auto migrated = connection->migrate(); !migrated) {
            return std::unexpected(migrated.error());
        }
    }
    return connection;
}

SqlResult<Statement> SqliteConnection::prepare(const char* sql) {
    const std::string_view key{sql};
    if (const auto cached = m_statements.find(key); cached != m_statements.end()) {
        return Statement{cached->second.get()};
    }
    sqlite3_stmt* raw = nullptr;
    const int result = sqlite3_prepare_v3(m_database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    StatementHandle statement{raw};
    if (result != SQLITE_OK) {
        return std::unexpected(connectionError(m_database.get(), result));
    }
    sqlite3_stmt* lent = statement.get();
    m_statements.emplace(key, std::move(statement));
    return Statement{lent};
}

void SqliteConnection::reportFailureOnce(std::string_view reason) const {
    if (g_failureReported.exchange(true)) {
        return;
    }
    reportProblem({Problem::Kind::historyFailed, m_file, std::string(reason),
                   "norik: review history failed on " + m_file.string() + ": " + std::string(reason) +
                       " (further history failures are not shown)"});
}

SqlResult<void> SqliteConnection::runCached(const char* sql) {
    auto statement = prepare(sql);
    if (!statement) {
        return std::unexpected(statement.error());
    }
    return statement->run();
}

SqlResult<std::int64_t> SqliteConnection::readInteger(const char* sql) {
    auto statement = prepare(sql);
    if (!statement) {
        return std::unexpected(statement.error());
    }
    const auto row = statement->step();
    if (!row) {
        return std::unexpected(row.error());
    }
    return *row ? statement->int64At(0) : 0;
}

SqlResult<std::string> SqliteConnection::readText(const char* sql) {
    auto statement = prepare(sql);
    if (!statement) {
        return std::unexpected(statement.error());
    }
    const auto row = statement->step();
    if (!row) {
        return std::unexpected(row.error());
    }
    return *row ? statement->textAt(0) : std::string();
}

SqlResult<void> SqliteConnection::runScript(const std::string& sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(m_database.get(), sql.c_str(), nullptr, nullptr, &message);
    if (result == SQLITE_OK) {
        return {};
    }
    std::string text = message != nullptr ? message : sqlite3_errstr(result);
    sqlite3_free(message);
    return std::unexpected(std::move(text));
}

SqlResult<void> SqliteConnection::migrate() {
    return writeTransaction([this]() -> SqlResult<void> {
        // Another process may have migrated while this one waited for the write lock.
        const auto version = readInteger("PRAGMA user_version");
        if (!version) {
            return std::unexpected(version.error());
        }
        if (*version >= kSchemaVersion) {
            return {};
        }
        for (auto step = static_cast<std::size_t>(*version); step < kMigrations.size(); ++step) {
            if (auto applied = runScript(kMigrations[step]); !applied) {
                return applied;
            }
        }
        return runScript("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    });
}

void SqliteConnection::rollback() noexcept {
    // A failed statement may already have rolled the transaction back on its own.
    if (sqlite3_get_autocommit(m_database.get()) == 0) {
        sqlite3_exec(m_database.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

} // namespace norik::core
