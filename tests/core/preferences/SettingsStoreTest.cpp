// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/SettingsStore.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TestFiles.h"

namespace norik::core {
namespace {

using tests::TemporaryFolder;

class SettingsStoreTest : public ::testing::Test {
protected:
    TemporaryFolder m_folder;
    std::filesystem::path m_file = m_folder.path() / "norik" / "settings.json";
};

TEST_F(SettingsStoreTest, ValuesKeepTheirTypesAcrossARoundTrip) {
    const std::map<std::string, SettingValue> written{
        {"text", std::string("200")},
        {"empty", std::string()},
        {"unicode", std::string("Grüße 👋 \"quoted\"\n")},
        {"integer", std::int64_t{200}},
        {"smallest", std::numeric_limits<std::int64_t>::min()},
        {"largest", std::numeric_limits<std::int64_t>::max()},
        {"yes", true},
        {"no", false},
        {"whole", 1.0},
        {"fraction", 0.1},
        {"denormal", std::numeric_limits<double>::denorm_min()},
    };
    {
        SettingsStore writer(m_file);
        for (const auto& [key, value] : written) {
            ASSERT_TRUE(writer.set(key, value).has_value()) << key;
        }
    }
    const SettingsStore reader(m_file);
    EXPECT_EQ(reader.all(), written);
    for (const auto& [key, value] : written) {
        EXPECT_EQ(reader.value(key), value) << key;
    }

    EXPECT_EQ(reader.string("text"), "200");
    EXPECT_EQ(reader.integer("text"), std::nullopt);
    EXPECT_EQ(reader.integer("integer"), 200);
    EXPECT_EQ(reader.string("integer"), std::nullopt);
    EXPECT_EQ(reader.number("integer"), std::nullopt);
    EXPECT_EQ(reader.number("whole"), 1.0);
    EXPECT_EQ(reader.integer("whole"), std::nullopt);
    EXPECT_EQ(reader.boolean("no"), false);
    EXPECT_EQ(reader.integer("yes"), std::nullopt);
    EXPECT_EQ(reader.value("missing"), std::nullopt);
}

TEST_F(SettingsStoreTest, SetReplacesAndRemoveDeletes) {
    SettingsStore store(m_file);
    ASSERT_TRUE(store.set("retentionLimit", std::int64_t{50}).has_value());
    ASSERT_TRUE(store.set("retentionLimit", std::string("fifty")).has_value());
    EXPECT_EQ(store.value("retentionLimit"), SettingValue(std::string("fifty")));

    ASSERT_TRUE(store.remove("retentionLimit").has_value());
    EXPECT_EQ(store.value("retentionLimit"), std::nullopt);
    EXPECT_TRUE(store.remove("never-set").has_value());
    EXPECT_TRUE(store.all().empty());
}

TEST_F(SettingsStoreTest, RefusesWhatJsonCannotHoldAndLeavesTheFileAlone) {
    SettingsStore store(m_file);
    ASSERT_TRUE(store.set("kept", std::string("x")).has_value());
    const std::string before = tests::readFile(m_file);

    EXPECT_FALSE(store.set("number", std::nan("")).has_value());
    EXPECT_FALSE(store.set("number", std::numeric_limits<double>::infinity()).has_value());
    EXPECT_FALSE(store.set("text", std::string("\xff\xfe")).has_value());
    EXPECT_FALSE(store.set("\xc3", std::string("value")).has_value());
    EXPECT_EQ(tests::readFile(m_file), before);
}

TEST_F(SettingsStoreTest, ForeignJsonTypesReadAsAbsentAndSurviveARewrite) {
    const auto foreign = nlohmann::json::parse(R"({
        "list": [1, "two", {"three": 3}],
        "nested": {"a": null, "b": [true]},
        "nothing": null,
        "huge": 18446744073709551615,
        "kept": "x"
    })");
    tests::writeFile(m_file, foreign.dump());
    SettingsStore store(m_file);
    for (const char* key : {"list", "nested", "nothing", "huge"}) {
        EXPECT_EQ(store.value(key), std::nullopt) << key;
    }
    EXPECT_EQ(store.all(), (std::map<std::string, SettingValue>{{"kept", std::string("x")}}));

    ASSERT_TRUE(store.set("added", std::int64_t{1}).has_value());
    auto rewritten = nlohmann::json::parse(tests::readFile(m_file));
    EXPECT_EQ(rewritten["added"], 1);
    rewritten.erase("added");
    EXPECT_EQ(rewritten, foreign);
}

TEST_F(SettingsStoreTest, CorruptFileIsMovedAsideWithOneWarningAndTheStoreStartsEmpty) {
    for (const std::string original : {R"({"provider": "openAI",)", "[1, 2]", R"("just text")", "", "\xff{}"}) {
        SCOPED_TRACE(original);
        std::filesystem::remove_all(m_file.parent_path());
        tests::writeFile(m_file, original);
        SettingsStore store(m_file);
        std::string warnings;
        {
            const tests::StderrCapture capture;
            EXPECT_EQ(store.value("provider"), std::nullopt);
            EXPECT_TRUE(store.all().empty());
            EXPECT_EQ(store.string("provider"), std::nullopt);
            warnings = capture.text();
        }
        EXPECT_EQ(tests::occurrences(warnings, "warning"), 1U) << warnings;

        std::vector<std::filesystem::path> asides;
        for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path())) {
            if (entry.path().filename().string().starts_with("settings.json.corrupt-")) {
                asides.push_back(entry.path());
            }
        }
        ASSERT_EQ(asides.size(), 1U);
        EXPECT_EQ(tests::readFile(asides.front()), original);
        EXPECT_NE(warnings.find(asides.front().string()), std::string::npos) << warnings;

        ASSERT_TRUE(store.set("provider", std::string("local")).has_value());
        EXPECT_EQ(store.string("provider"), "local");
    }
}

TEST_F(SettingsStoreTest, ARepeatedCorruptionNeverReplacesAnEarlierCorruptFile) {
    SettingsStore store(m_file);
    const tests::StderrCapture quiet;
    for (const std::string original : {"first {", "second {", "third {"}) {
        tests::writeFile(m_file, original);
        EXPECT_EQ(store.value("x"), std::nullopt);
    }
    std::set<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path())) {
        if (entry.path().filename().string().starts_with("settings.json.corrupt-")) {
            kept.insert(tests::readFile(entry.path()));
        }
    }
    EXPECT_EQ(kept, (std::set<std::string>{"first {", "second {", "third {"}));
}

TEST_F(SettingsStoreTest, AReaderNeverSeesATornFileWhileAWriterLoops) {
    SettingsStore store(m_file);
    ASSERT_TRUE(store.set("essay", std::string("start")).has_value());
    std::atomic<bool> writing = true;
    std::jthread writer([&] {
        // Alternating large and small documents: an in-place rewrite would expose a truncated or mixed file.
        for (int round = 0; round < 60; ++round) {
            const std::string essay(round % 2 == 0 ? 256 * 1024 : 16, static_cast<char>('a' + round % 26));
            static_cast<void>(store.set("essay", essay));
        }
        writing = false;
    });
    int reads = 0;
    int torn = 0;
    while (writing) {
        const auto parsed = nlohmann::json::parse(tests::readFile(m_file), nullptr, false);
        torn += parsed.is_object() && parsed.contains("essay") ? 0 : 1;
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(store.string("essay"), std::string(16, static_cast<char>('a' + 59 % 26)));
}

TEST_F(SettingsStoreTest, AnotherProcessesWriteIsSeenByTheNextRead) {
    SettingsStore store(m_file);
    ASSERT_TRUE(store.set("explanationLanguage", std::string("English")).has_value());
    // Same length and written in quick succession, so a cache keyed on size or a coarse mtime would go stale.
    for (const std::string language : {"German", "French", "German", "French"}) {
        ASSERT_EQ(tests::runInChildProcess([&] {
                      SettingsStore other(m_file);
                      return other.set("explanationLanguage", language).has_value() ? 0 : 1;
                  }),
                  0);
        EXPECT_EQ(store.string("explanationLanguage"), language);
    }
}

TEST_F(SettingsStoreTest, ConcurrentWritersInTwoProcessesLoseNothing) {
    constexpr int kKeysEach = 40;
    SettingsStore store(m_file);
    const auto writeKeys = [&](const std::string& prefix) {
        int failures = 0;
        for (int index = 0; index < kKeysEach; ++index) {
            failures += store.set(prefix + std::to_string(index), std::int64_t{index}).has_value() ? 0 : 1;
        }
        return failures;
    };
    const pid_t child = tests::startChildProcess([&] { return writeKeys("child."); });
    EXPECT_EQ(writeKeys("parent."), 0);
    EXPECT_EQ(tests::waitForChildProcess(child), 0);
    EXPECT_EQ(store.all().size(), 2U * kKeysEach);
}

TEST(SettingsStorePath, FollowsXdgConfigHomeAndIgnoresARelativeOne) {
    tests::ScopedEnvironment environment;
    environment.set("HOME", "/home/writer");
    environment.set("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(SettingsStore::defaultPath(), "/srv/config/norik/settings.json");
    environment.set("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsStore::defaultPath(), "/home/writer/.config/norik/settings.json");
    environment.set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(SettingsStore().path(), "/home/writer/.config/norik/settings.json");
}

} // namespace
} // namespace norik::core
