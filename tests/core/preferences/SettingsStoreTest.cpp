// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/SettingsStore.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/log/Problems.h"
#include "core/preferences/Preferences.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/TestFiles.h"

namespace norik::core {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    tests::TemporaryFolder m_folder;
    std::filesystem::path m_file = m_folder.path() / "norik" / "settings.json";
    SettingsStore m_store{m_file};
};

// A value of the wrong type read as absent is the preferences' check, a removal seen by another reader the
// command line's.
TEST_F(SettingsStoreTest, ValuesKeepTheirTypesAndWhatJsonCannotHoldIsRefused) {
    const std::map<std::string, SettingValue> written{{"text", std::string("200")},
                                                      {"unicode", std::string("Grüße 👋 \"q\"\n")},
                                                      {"smallest", std::numeric_limits<std::int64_t>::min()},
                                                      {"largest", std::numeric_limits<std::int64_t>::max()},
                                                      {"fraction", 0.1},
                                                      {"whole", 1.0}};
    for (const auto& [key, value] : written) {
        ASSERT_TRUE(m_store.set(key, value)) << key;
    }
    EXPECT_EQ(SettingsStore(m_file).all(), written);

    const std::string before = tests::readFile(m_file);
    EXPECT_FALSE(m_store.set("number", std::nan("")));
    EXPECT_FALSE(m_store.set("text", std::string("\xff\xfe")));
    EXPECT_FALSE(m_store.set("\xc3", std::string("value")));
    EXPECT_EQ(tests::readFile(m_file), before);
}

TEST_F(SettingsStoreTest, ForeignJsonTypesReadAsAbsentAndSurviveARewrite) {
    const auto foreign = nlohmann::json::parse(
        R"({"list": [1, "two", {"3": 3}], "nested": {"a": null}, "nothing": null, "huge": 18446744073709551615})");
    tests::writeFile(m_file, foreign.dump());
    EXPECT_TRUE(m_store.all().empty());
    ASSERT_TRUE(m_store.set("added", std::int64_t{1}));
    auto rewritten = nlohmann::json::parse(tests::readFile(m_file));
    rewritten.erase("added");
    EXPECT_EQ(rewritten, foreign);
}

// Each is reported to the problem sink, never to the terminal, and no earlier file set aside is replaced,
// though all of them happen within one second.
TEST_F(SettingsStoreTest, EachDamagedFileIsSetAsideAndReportedOnce) {
    const std::vector<std::string> originals{R"({"provider": "openAI",)", "[1, 2]", "", "\xff{}"};
    std::vector<Problem> reported;
    setProblemSink([&reported](const Problem& problem) { reported.push_back(problem); });
    for (const std::string& original : originals) {
        tests::writeFile(m_file, original);
        EXPECT_TRUE(m_store.all().empty());
        ASSERT_TRUE(m_store.set("provider", std::string("local")));
    }
    setProblemSink({});
    std::multiset<std::string> kept;
    for (const Problem& problem : reported) {
        EXPECT_EQ(problem.kind, Problem::Kind::fileSetAside);
        EXPECT_EQ(problem.file, m_file);
        kept.insert(tests::readFile(problem.detail));
    }
    EXPECT_EQ(kept, std::multiset<std::string>(originals.begin(), originals.end()));
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

class PreferencesTest : public SettingsStoreTest {
protected:
    void store(const std::string& key, const SettingValue& value) { ASSERT_TRUE(m_store.set(key, value)); }

    platform::MemorySecretStore m_secrets;
    Preferences m_preferences{m_store, m_secrets};
};

TEST_F(PreferencesTest, StoringEveryListedDefaultChangesNothingAndAWrongTypeReadsAsTheDefault) {
    const Preferences::Snapshot defaults = m_preferences.snapshot();
    const std::int64_t retention = m_preferences.retentionLimit();
    for (const SettingKey& key : settingKeys()) {
        ASSERT_TRUE(m_preferences.setFromText(key.name, key.defaultText)) << key.name;
    }
    EXPECT_EQ(m_preferences.snapshot(), defaults);

    const std::pair<std::string, SettingValue> wrong[] = {
        {"provider", std::int64_t{1}}, {"provider", std::string("openai")},   {"model.anthropic", true},
        {"localEndpoint", 3.5},        {"retentionLimit", std::string("50")}, {"retentionLimit", 50.0}};
    for (const auto& [key, value] : wrong) {
        store(key, value);
        EXPECT_EQ(m_preferences.snapshot(), defaults) << key;
        EXPECT_EQ(m_preferences.retentionLimit(), retention) << key;
    }
    store("localEndpoint", std::string(" http://box:11434/ "));
    EXPECT_EQ(m_preferences.snapshot().localEndpoint, " http://box:11434/ ") << "stored strings stay as they are";
}

// A stored key before the environment's, and the environment's without one, are the command line's checks.
TEST_F(PreferencesTest, TheSnapshotTakesTheSelectedProvidersModelAndKey) {
    store("provider", std::string("openAI"));
    ASSERT_TRUE(m_secrets.store("sk-openai", "apiKey.openAI"));
    store("model.openAI", std::string("gpt-4.1"));
    EXPECT_EQ(std::pair(m_preferences.snapshot().apiKey, m_preferences.snapshot().model),
              std::pair(std::string("sk-openai"), std::string("gpt-4.1")));
    EXPECT_EQ(m_preferences.snapshotWithoutKey().apiKey, "");
    store("provider", std::string("local"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "");
}

TEST_F(PreferencesTest, SetFromTextStoresTheKeysTypeOrRefusesWithoutEchoingASecret) {
    ASSERT_TRUE(m_preferences.setFromText("retentionLimit", "-5"));
    EXPECT_EQ(m_preferences.retentionLimit(), -5);

    const auto before = m_store.all();
    const std::pair<std::string, std::string> refused[] = {{"retentionLimit", " 5"},
                                                           {"retentionLimit", "99999999999999999999"},
                                                           {"provider", "Local"},
                                                           {"hasCompletedOnboarding", "True"},
                                                           {"apiKey.anthropic", "sk-secret"}};
    for (const auto& [key, text] : refused) {
        const auto result = m_preferences.setFromText(key, text);
        ASSERT_FALSE(result) << key << " = " << text;
        EXPECT_NE(result.error().find(key), std::string::npos) << result.error();
        EXPECT_EQ(result.error().find("sk-secret"), std::string::npos);
    }
    EXPECT_EQ(m_store.all(), before);
}

} // namespace
} // namespace norik::core
