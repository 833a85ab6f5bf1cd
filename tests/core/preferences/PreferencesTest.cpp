// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/Preferences.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/preferences/SettingsStore.h"
#include "core/providers/ProviderCatalogue.h"
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

TEST_F(PreferencesTest, AnEmptyStoreGivesTheDefaultsTheKeyTableLists) {
    const Preferences::Snapshot defaults{.provider = LLMProvider::anthropic,
                                         .apiKey = "",
                                         .model = "claude-haiku-4-5-20251001",
                                         .localEndpoint = "http://127.0.0.1:11434",
                                         .explanationLanguage = "English"};
    const auto checkDefaults = [&] {
        EXPECT_EQ(m_preferences.snapshot(), defaults);
        EXPECT_EQ(m_preferences.model(LLMProvider::openAI), "gpt-4o-mini");
        EXPECT_EQ(m_preferences.model(LLMProvider::local), "");
        EXPECT_EQ(m_preferences.retentionLimit(), 200);
        EXPECT_FALSE(m_preferences.hasCompletedOnboarding());
    };
    checkDefaults();
    // Storing every listed default explicitly must change nothing.
    for (const SettingKey& key : settingKeys()) {
        ASSERT_TRUE(m_preferences.setFromText(key.name, key.defaultText)) << key.name;
    }
    EXPECT_EQ(m_settings.all().size(), settingKeys().size());
    checkDefaults();
}

TEST_F(PreferencesTest, OnlyTheExactProviderNamesSelectAProvider) {
    const std::pair<SettingValue, LLMProvider> cases[] = {
        {std::string("openAI"), LLMProvider::openAI},
        {std::string("local"), LLMProvider::local},
        {std::string("openai"), LLMProvider::anthropic},
        {std::int64_t{1}, LLMProvider::anthropic},
    };
    for (const auto& [stored, expected] : cases) {
        store("provider", stored);
        EXPECT_EQ(m_preferences.snapshot().provider, expected) << testing::PrintToString(stored);
    }
}

TEST_F(PreferencesTest, TheSnapshotTakesTheSelectedProvidersModelAndKey) {
    ASSERT_TRUE(m_secrets.store("sk-ant-1", std::string(core::providerInfo(LLMProvider::anthropic).apiKeyAccount)));
    ASSERT_TRUE(m_secrets.store("sk-openai", "apiKey.openAI"));
    store("model.openAI", std::string("gpt-4.1"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-ant-1");
    ASSERT_TRUE(m_secrets.store("sk-ant-2", "apiKey.anthropic"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-ant-2");
    ASSERT_TRUE(m_secrets.store("", "apiKey.anthropic"));
    EXPECT_EQ(m_secrets.read("apiKey.anthropic"), std::nullopt);
    EXPECT_EQ(m_preferences.snapshot().apiKey, "");

    store("provider", std::string("openAI"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-openai");
    EXPECT_EQ(m_preferences.snapshot().model, "gpt-4.1");
    store("provider", std::string("local"));
    EXPECT_EQ(m_preferences.snapshot().apiKey, "");
    EXPECT_EQ(m_preferences.snapshot().model, "");
}

TEST_F(PreferencesTest, WithoutAStoredKeyTheProvidersEnvironmentVariableServesAndTheLocalOneTakesNone) {
    ::setenv("ANTHROPIC_API_KEY", "sk-ant-environment", 1);
    ::setenv("OPENAI_API_KEY", "sk-openai-environment", 1);
    ASSERT_TRUE(m_secrets.store("sk-openai-stored", "apiKey.openAI"));

    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-ant-environment");
    EXPECT_EQ(m_preferences.snapshotWithoutKey().apiKey, "");
    EXPECT_EQ(m_preferences.apiKey(LLMProvider::openAI), "sk-openai-stored");
    EXPECT_EQ(m_preferences.apiKey(LLMProvider::local), "");
    ::unsetenv("ANTHROPIC_API_KEY");
    ::unsetenv("OPENAI_API_KEY");
}

TEST_F(PreferencesTest, AWrongTypeReadsAsTheDefaultKeyByKeyButStoredStringsStayAsTheyAre) {
    store("provider", std::string("openAI"));
    store("model.openAI", true);
    store("localEndpoint", 3.5);
    store("explanationLanguage", std::string(""));
    auto snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.provider, LLMProvider::openAI);
    EXPECT_EQ(snapshot.model, "gpt-4o-mini");
    EXPECT_EQ(snapshot.localEndpoint, "http://127.0.0.1:11434");
    EXPECT_EQ(snapshot.explanationLanguage, "");

    store("model.openAI", std::string(""));
    store("localEndpoint", std::string(" http://box:11434/ "));
    snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.model, "");
    EXPECT_EQ(snapshot.localEndpoint, " http://box:11434/ ");

    for (const SettingValue& notAnInteger : {SettingValue(std::string("50")), SettingValue(50.0)}) {
        store("retentionLimit", notAnInteger);
        EXPECT_EQ(m_preferences.retentionLimit(), 200) << testing::PrintToString(notAnInteger);
    }
    store("hasCompletedOnboarding", std::string("true"));
    EXPECT_FALSE(m_preferences.hasCompletedOnboarding());
}

TEST_F(PreferencesTest, SetFromTextStoresTheKeysTypeOrRefuses) {
    ASSERT_TRUE(m_preferences.setFromText("retentionLimit", "-5"));
    EXPECT_EQ(m_preferences.retentionLimit(), -5);
    ASSERT_TRUE(m_preferences.setFromText("hasCompletedOnboarding", "true"));
    EXPECT_TRUE(m_preferences.hasCompletedOnboarding());
    ASSERT_TRUE(m_preferences.setFromText("explanationLanguage", "200"));
    EXPECT_EQ(m_settings.value("explanationLanguage"), SettingValue(std::string("200")));

    const std::pair<std::string, std::string> refused[] = {
        {"retentionLimit", " 5"},
        {"retentionLimit", "99999999999999999999"},
        {"provider", "Local"},
        {"hasCompletedOnboarding", "True"},
    };
    const auto before = m_settings.all();
    for (const auto& [key, text] : refused) {
        const auto result = m_preferences.setFromText(key, text);
        ASSERT_FALSE(result) << key << " = " << text;
        EXPECT_NE(result.error().find(key), std::string::npos) << result.error();
    }
    const auto unknown = m_preferences.setFromText("apiKey.anthropic", "sk-secret");
    ASSERT_FALSE(unknown);
    for (const SettingKey& key : settingKeys()) {
        EXPECT_NE(unknown.error().find(key.name), std::string::npos) << unknown.error();
    }
    EXPECT_EQ(unknown.error().find("sk-secret"), std::string::npos);
    EXPECT_EQ(m_settings.all(), before);
}

} // namespace
} // namespace norik::core
