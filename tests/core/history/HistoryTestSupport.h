// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstdlib>
#include <expected>
#include <filesystem>
#include <string>
#include <type_traits>

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
using norik::tests::ScopedEnvironment;

// A second, plain SQLite connection: the tests check and seed the file without going through the code
// under test. Never creates the file.
class RawDatabase {
public:
    explicit RawDatabase(const std::filesystem::path& file) {
        sqlite3* raw = nullptr;
        m_opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        m_database = raw;
        sqlite3_busy_timeout(m_database, 5000);
    }
    ~RawDatabase() { sqlite3_close_v2(m_database); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    // The first column of the first row; a statement without rows gives T{}.
    template <typename T> [[nodiscard]] std::expected<T, std::string> tryValue(const std::string& sql) const {
        if (m_opened != SQLITE_OK) {
            return std::unexpected(sqlite3_errstr(m_opened));
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_database, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            return std::unexpected(sqlite3_errmsg(m_database));
        }
        std::expected<T, std::string> value = T{};
        const int stepped = sqlite3_step(statement);
        if (stepped == SQLITE_ROW) {
            if constexpr (std::is_same_v<T, std::int64_t>) {
                value = sqlite3_column_int64(statement, 0);
            } else {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                value = text != nullptr ? text : "";
            }
        } else if (stepped != SQLITE_DONE) {
            value = std::unexpected(sqlite3_errmsg(m_database));
        }
        sqlite3_finalize(statement);
        return value;
    }
    template <typename T> [[nodiscard]] T value(const std::string& sql) const {
        auto result = tryValue<T>(sql);
        EXPECT_TRUE(result.has_value()) << sql << ": " << result.error();
        return result.value_or(T{});
    }
    [[nodiscard]] std::int64_t integer(const std::string& sql) const { return value<std::int64_t>(sql); }
    [[nodiscard]] std::string text(const std::string& sql) const { return value<std::string>(sql); }
    void execute(const std::string& sql) const { static_cast<void>(text(sql)); }

private:
    sqlite3* m_database = nullptr;
    int m_opened = SQLITE_OK;
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
    std::string bytes(4096, '\0');
    std::uint32_t state = 0x2545F491;
    for (char& byte : bytes) {
        state = state * 1664525 + 1013904223;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

} // namespace norik::core::testing
