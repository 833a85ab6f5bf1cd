// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/SettingsStore.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/log/Problems.h"

#include "support/TestFiles.h"

namespace norik::core {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    tests::TemporaryFolder m_folder;
    std::filesystem::path m_file = m_folder.path() / "norik" / "settings.json";
    SettingsStore m_store{m_file};
};

TEST_F(SettingsStoreTest, ValuesKeepTheirTypesAcrossARoundTrip) {
    const std::map<std::string, SettingValue> written{
        {"text", std::string("200")},
        {"empty", std::string()},
        {"unicode", std::string("Grüße 👋 \"q\"\n")},
        {"integer", std::int64_t{200}},
        {"smallest", std::numeric_limits<std::int64_t>::min()},
        {"largest", std::numeric_limits<std::int64_t>::max()},
        {"yes", true},
        {"no", false},
        {"whole", 1.0},
        {"fraction", 0.1},
    };
    for (const auto& [key, value] : written) {
        ASSERT_TRUE(m_store.set(key, value)) << key;
    }
    const SettingsStore reader(m_file);
    EXPECT_EQ(reader.all(), written);
    EXPECT_EQ(reader.string("text"), "200");
    EXPECT_EQ(reader.integer("text"), std::nullopt);
    EXPECT_EQ(reader.integer("integer"), 200);
    EXPECT_EQ(reader.number("integer"), std::nullopt);
    EXPECT_EQ(reader.integer("whole"), std::nullopt);
    EXPECT_EQ(reader.string("yes"), std::nullopt);

    ASSERT_TRUE(m_store.set("text", std::int64_t{50}));
    EXPECT_EQ(reader.value("text"), SettingValue(std::int64_t{50}));
    ASSERT_TRUE(m_store.remove("text"));
    EXPECT_TRUE(m_store.remove("never-set"));
    EXPECT_EQ(reader.value("text"), std::nullopt);
    EXPECT_EQ(reader.all().size(), written.size() - 1);
}

TEST_F(SettingsStoreTest, RefusesWhatJsonCannotHoldAndLeavesTheFileAlone) {
    ASSERT_TRUE(m_store.set("kept", std::string("x")));
    const std::string before = tests::readFile(m_file);
    EXPECT_FALSE(m_store.set("number", std::nan("")));
    EXPECT_FALSE(m_store.set("number", std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(m_store.set("text", std::string("\xff\xfe")));
    EXPECT_FALSE(m_store.set("\xc3", std::string("value")));
    EXPECT_EQ(tests::readFile(m_file), before);
}

TEST_F(SettingsStoreTest, ForeignJsonTypesReadAsAbsentAndSurviveARewrite) {
    const auto foreign = nlohmann::json::parse(
        R"({"list": [1, "two", {"3": 3}], "nested": {"a": null}, "nothing": null, "huge": 18446744073709551615})");
    tests::writeFile(m_file, foreign.dump());
    for (const char* key : {"list", "nested", "nothing", "huge"}) {
        EXPECT_EQ(m_store.value(key), std::nullopt) << key;
    }
    EXPECT_TRUE(m_store.all().empty());

    ASSERT_TRUE(m_store.set("added", std::int64_t{1}));
    auto rewritten = nlohmann::json::parse(tests::readFile(m_file));
    EXPECT_EQ(rewritten["added"], 1);
    rewritten.erase("added");
    EXPECT_EQ(rewritten, foreign);
}

TEST_F(SettingsStoreTest, EachCorruptFileIsMovedAsideWithOneWarning) {
    const std::vector<std::string> originals{R"({"provider": "openAI",)", "[1, 2]", R"("text")", "", "\xff{}"};
    for (const std::string& original : originals) {
        SCOPED_TRACE(original);
        tests::writeFile(m_file, original);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(m_store.value("provider"), std::nullopt);
        EXPECT_TRUE(m_store.all().empty());
        const std::string warnings = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(tests::occurrences(warnings, "warning"), 1U) << warnings;
        EXPECT_FALSE(std::filesystem::exists(m_file));
        ASSERT_TRUE(m_store.set("provider", std::string("local")));
        EXPECT_EQ(m_store.string("provider"), "local");
    }
    // Corruptions within one second get distinct names: no earlier file is ever replaced.
    std::multiset<std::string> kept;
    for (const auto& aside : tests::filesStartingWith(m_file.parent_path(), "settings.json.corrupt-")) {
        kept.insert(tests::readFile(aside));
    }
    EXPECT_EQ(kept, std::multiset<std::string>(originals.begin(), originals.end()));
}

TEST_F(SettingsStoreTest, ADamagedFileIsReportedToTheProblemSinkRatherThanTheTerminal) {
    std::vector<Problem> reported;
    setProblemSink([&reported](const Problem& problem) { reported.push_back(problem); });
    tests::writeFile(m_file, "[1, 2]");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(m_store.value("provider"), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    setProblemSink({});
    ASSERT_EQ(reported.size(), 1U);
    EXPECT_EQ(reported[0].kind, Problem::Kind::fileSetAside);
    EXPECT_EQ(reported[0].file, m_file);
    EXPECT_EQ(tests::readFile(reported[0].detail), "[1, 2]");
}

TEST_F(SettingsStoreTest, AReaderNeverSeesATornFileWhileAWriterLoops) {
    ASSERT_TRUE(m_store.set("essay", std::string("start")));
    std::atomic<bool> writing = true;
    std::atomic<int> reads = 0;
    std::jthread writer([&] {
        // Alternating large and small documents: an in-place rewrite would expose a truncated or mixed file.
        // It goes on until the reader has read often enough to have overlapped it.
        for (int round = 0; round < 60 || reads < 50; ++round) {
            static_cast<void>(m_store.set("essay", std::string(round % 2 == 0 ? 256 * 1024 : 16, 'x')));
        }
        writing = false;
    });
    int torn = 0;
    while (writing) {
        const auto parsed = nlohmann::json::parse(tests::readFile(m_file), nullptr, false);
        torn += parsed.is_object() && parsed.contains("essay") ? 0 : 1;
        ++reads;
    }
    EXPECT_EQ(torn, 0) << "of " << reads.load() << " reads";
}

TEST_F(SettingsStoreTest, OtherProcessesWritesAreSeenAndNeverLost) {
    // Same length and in quick succession, so a cache keyed on size or a coarse mtime would go stale.
    for (const std::string language : {"German", "French", "German"}) {
        ASSERT_EQ(tests::runInChildProcess(
                      [&] { return SettingsStore(m_file).set("language", language).has_value() ? 0 : 1; }),
                  0);
        EXPECT_EQ(m_store.string("language"), language);
    }

    constexpr int kKeysEach = 40;
    const auto writeKeys = [&](const std::string& prefix) {
        int failures = 0;
        for (int index = 0; index < kKeysEach; ++index) {
            failures += m_store.set(prefix + std::to_string(index), std::int64_t{index}).has_value() ? 0 : 1;
        }
        return failures;
    };
    const pid_t child = tests::startChildProcess([&] { return writeKeys("child."); });
    EXPECT_EQ(writeKeys("parent."), 0);
    EXPECT_EQ(tests::waitForChildProcess(child), 0);
    EXPECT_EQ(m_store.all().size(), 1U + 2U * kKeysEach);
}

} // namespace
} // namespace norik::core
