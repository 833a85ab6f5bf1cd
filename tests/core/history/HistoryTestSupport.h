// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <initializer_list>
#include <sqlite3.h>

#include "core/tutor/TutorResult.h"

#include "support/TestFiles.h"

namespace norik::core::testing {

using norik::tests::readFile;
using norik::tests::snapshot;
using norik::tests::writeFile;
using TempFolder = norik::tests::TemporaryFolder;

// A second, plain SQLite connection: the tests check and seed the file without going through the code
// under test. Never creates the file.
class RawDatabase {
public:
    explicit RawDatabase(const std::filesystem::path& file) {
        sqlite3* raw = nullptr;
        EXPECT_EQ(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK) << file;
        m_database = raw;
        sqlite3_busy_timeout(m_database, 5000);
    }
    ~RawDatabase() { sqlite3_close_v2(m_database); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // The first column of the first row as text; empty for a statement without rows.
    [[nodiscard]] std::string text(const std::string& sql) const {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_database, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(m_database);
        const int stepped = sqlite3_step(statement);
        EXPECT_TRUE(stepped == SQLITE_ROW || stepped == SQLITE_DONE) << sql << ": " << sqlite3_errmsg(m_database);
        const auto* text = stepped == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
        std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
        sqlite3_finalize(statement);
        return value;
    }
    [[nodiscard]] std::int64_t integer(const std::string& sql) const {
        const std::string value = text(sql);
        return value.empty() ? 0 : std::stoll(value);
    }
    void execute(const std::string& sql) const { static_cast<void>(text(sql)); }

private:
    sqlite3* m_database = nullptr;
};

inline TutorResult reviewWithCategories(std::initializer_list<std::string> categories) {
    TutorResult result{.language = "en", .corrected = "corrected", .improved = "improved", .issues = {}, .score = 70};
    for (const std::string& category : categories) {
        result.issues.push_back({.excerpt = "excerpt", .explanation = "why", .category = category});
    }
    return result;
}

// Bytes that are no SQLite database, with no SQLite header.
inline std::string garbage() {
    return std::string(4096, '\x5a');
}

} // namespace norik::core::testing
