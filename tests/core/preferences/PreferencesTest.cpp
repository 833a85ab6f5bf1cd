// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/Preferences.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "platform/fake/MemorySecretStore.h"

#include "support/TestFiles.h"

namespace norik::core {
namespace {

class PreferencesTest : public ::testing::Test {
protected:
    void store(const std::string& key, const SettingValue& value) { ASSERT_TRUE(m_settings.set(key, value)); }

    tests::TemporaryFolder m_folder;
    SettingsStore m_settings{m_folder.path() / "settings.json"};
    platform::MemorySecretStore m_secrets;
    Preferences m_preferences{m_settings, m_secrets};
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

TEST_F(PreferencesTest, TheSnapshotTakesTheSelectedProvidersModelAndKeyBeforeItsEnvironmentVariable) {
    ::setenv("ANTHROPIC_API_KEY", "sk-ant-environment", 1);
    ASSERT_TRUE(m_secrets.store("sk-openai", "apiKey.openAI"));
    store("model.openAI", std::string("gpt-4.1"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-ant-environment");
    EXPECT_EQ(m_preferences.snapshotWithoutKey().apiKey, "");
    ASSERT_TRUE(m_secrets.store("sk-ant", "apiKey.anthropic"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-ant");
    ::unsetenv("ANTHROPIC_API_KEY");

    store("provider", std::string("openAI"));
    EXPECT_EQ(std::pair(m_preferences.snapshot().apiKey, m_preferences.snapshot().model),
              std::pair(std::string("sk-openai"), std::string("gpt-4.1")));
    store("provider", std::string("local"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "");
}

TEST_F(PreferencesTest, SetFromTextStoresTheKeysTypeOrRefusesWithoutEchoingASecret) {
    ASSERT_TRUE(m_preferences.setFromText("retentionLimit", "-5"));
    EXPECT_EQ(m_preferences.retentionLimit(), -5);
    ASSERT_TRUE(m_preferences.setFromText("explanationLanguage", "200"));
    EXPECT_EQ(m_settings.value("explanationLanguage"), SettingValue(std::string("200")));

    const auto before = m_settings.all();
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
    EXPECT_EQ(m_settings.all(), before);
}

} // namespace
} // namespace norik::core
