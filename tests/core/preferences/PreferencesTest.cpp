// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/Preferences.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "TestFiles.h"

#include "core/preferences/SettingsStore.h"
#include "platform/fake/MemorySecretStore.h"

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

TEST_F(PreferencesTest, AnEmptyStoreGivesTheDefaults) {
    EXPECT_EQ(m_preferences.snapshot(), (Preferences::Snapshot{.provider = LLMProvider::anthropic,
                                                               .apiKey = "",
                                                               .model = "claude-haiku-4-5-20251001",
                                                               .localEndpoint = "http://127.0.0.1:11434",
                                                               .explanationLanguage = "English"}));
    EXPECT_EQ(m_preferences.model(LLMProvider::openAI), "gpt-4o-mini");
    EXPECT_EQ(m_preferences.model(LLMProvider::local), "");
    EXPECT_EQ(m_preferences.retentionLimit(), 200);
    EXPECT_FALSE(m_preferences.hasCompletedOnboarding());
}

TEST_F(PreferencesTest, TheKeyTableAgreesWithWhatAnEmptyStoreReads) {
    for (const SettingKey& key : settingKeys()) {
        SCOPED_TRACE(key.name);
        std::string read;
        if (key.name == "provider") {
            read = rawValue(m_preferences.snapshot().provider);
        } else if (key.name.starts_with("model.")) {
            read = m_preferences.model(*providerFromRawValue(key.name.substr(6)));
        } else if (key.name == "localEndpoint") {
            read = m_preferences.snapshot().localEndpoint;
        } else if (key.name == "explanationLanguage") {
            read = m_preferences.snapshot().explanationLanguage;
        } else if (key.name == "retentionLimit") {
            read = std::to_string(m_preferences.retentionLimit());
        } else if (key.name == "hasCompletedOnboarding") {
            read = m_preferences.hasCompletedOnboarding() ? "true" : "false";
        } else {
            ADD_FAILURE() << "a key this test does not know";
        }
        EXPECT_EQ(read, key.defaultText);
    }
}

TEST_F(PreferencesTest, OnlyTheExactProviderNamesSelectAProvider) {
    const std::pair<SettingValue, LLMProvider> cases[] = {
        {std::string("openAI"), LLMProvider::openAI},       {std::string("local"), LLMProvider::local},
        {std::string("anthropic"), LLMProvider::anthropic}, {std::string("Local"), LLMProvider::anthropic},
        {std::string("openai"), LLMProvider::anthropic},    {std::string(" local"), LLMProvider::anthropic},
        {std::string(""), LLMProvider::anthropic},          {std::int64_t{1}, LLMProvider::anthropic},
    };
    for (const auto& [stored, expected] : cases) {
        store("provider", stored);
        EXPECT_EQ(m_preferences.snapshot().provider, expected) << testing::PrintToString(stored);
    }
}

TEST_F(PreferencesTest, TheSnapshotFollowsTheProvidersModelAndKey) {
    m_secrets.store("sk-ant", Preferences::apiKeyAccount(LLMProvider::anthropic));
    m_secrets.store("sk-openai", Preferences::apiKeyAccount(LLMProvider::openAI));
    store("model.openAI", std::string("gpt-4.1"));

    store("provider", std::string("openAI"));
    auto snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.apiKey, "sk-openai");
    EXPECT_EQ(snapshot.model, "gpt-4.1");

    store("provider", std::string("local"));
    snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.provider, LLMProvider::local);
    EXPECT_EQ(snapshot.apiKey, "");
    EXPECT_EQ(snapshot.model, "");
    store("model.local", std::string("llama3.2"));
    EXPECT_EQ(m_preferences.snapshot().model, "llama3.2");
}

TEST_F(PreferencesTest, AddingReplacingAndDeletingTheApiKey) {
    const std::string account = Preferences::apiKeyAccount(LLMProvider::anthropic);
    EXPECT_EQ(account, "apiKey.anthropic");
    m_secrets.store("sk-first", account);
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-first");
    m_secrets.store("sk-second", account);
    EXPECT_EQ(m_preferences.snapshot().apiKey, "sk-second");
    m_secrets.store("", account);
    EXPECT_EQ(m_secrets.read(account), std::nullopt);
    EXPECT_EQ(m_preferences.snapshot().apiKey, "");
}

TEST_F(PreferencesTest, AWrongTypeReadsAsTheDefaultKeyByKey) {
    store("provider", std::string("openAI"));
    store("model.openAI", true);
    store("localEndpoint", 3.5);
    store("explanationLanguage", std::string("German"));
    const auto snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.provider, LLMProvider::openAI);
    EXPECT_EQ(snapshot.model, "gpt-4o-mini");
    EXPECT_EQ(snapshot.localEndpoint, "http://127.0.0.1:11434");
    EXPECT_EQ(snapshot.explanationLanguage, "German");

    for (const SettingValue& notAnInteger :
         {SettingValue(std::string("200")), SettingValue(std::string("50")), SettingValue(50.0), SettingValue(true)}) {
        store("retentionLimit", notAnInteger);
        EXPECT_EQ(m_preferences.retentionLimit(), 200) << testing::PrintToString(notAnInteger);
    }
    store("retentionLimit", std::int64_t{50});
    EXPECT_EQ(m_preferences.retentionLimit(), 50);

    store("hasCompletedOnboarding", std::string("true"));
    EXPECT_FALSE(m_preferences.hasCompletedOnboarding());
    store("hasCompletedOnboarding", true);
    EXPECT_TRUE(m_preferences.hasCompletedOnboarding());
}

TEST_F(PreferencesTest, StoredStringsAreNeitherDefaultedWhenEmptyNorTrimmed) {
    store("model.anthropic", std::string(""));
    store("localEndpoint", std::string(" http://box:11434/ "));
    store("explanationLanguage", std::string(""));
    const auto snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.model, "");
    EXPECT_EQ(snapshot.localEndpoint, " http://box:11434/ ");
    EXPECT_EQ(snapshot.explanationLanguage, "");
}

TEST_F(PreferencesTest, SetFromTextStoresTheKeysType) {
    ASSERT_TRUE(m_preferences.setFromText("retentionLimit", "-5"));
    EXPECT_EQ(m_settings.value("retentionLimit"), SettingValue(std::int64_t{-5}));
    ASSERT_TRUE(m_preferences.setFromText("hasCompletedOnboarding", "true"));
    EXPECT_EQ(m_settings.value("hasCompletedOnboarding"), SettingValue(true));
    ASSERT_TRUE(m_preferences.setFromText("provider", "local"));
    ASSERT_TRUE(m_preferences.setFromText("model.local", " qwen3:8b "));
    ASSERT_TRUE(m_preferences.setFromText("explanationLanguage", "200"));
    EXPECT_EQ(m_settings.value("explanationLanguage"), SettingValue(std::string("200")));

    const auto snapshot = m_preferences.snapshot();
    EXPECT_EQ(snapshot.provider, LLMProvider::local);
    EXPECT_EQ(snapshot.model, " qwen3:8b ");
}

TEST_F(PreferencesTest, SetFromTextRefusesBadTextAndLeavesTheStoreAlone) {
    const std::pair<std::string, std::string> refused[] = {
        {"retentionLimit", "abc"},       {"retentionLimit", "5x"},  {"retentionLimit", " 5"},
        {"retentionLimit", ""},          {"retentionLimit", "2.5"}, {"retentionLimit", "99999999999999999999"},
        {"provider", "Local"},           {"provider", ""},          {"hasCompletedOnboarding", "True"},
        {"hasCompletedOnboarding", "1"},
    };
    for (const auto& [key, text] : refused) {
        const auto result = m_preferences.setFromText(key, text);
        ASSERT_FALSE(result) << key << " = " << text;
        EXPECT_NE(result.error().find(key), std::string::npos) << result.error();
    }
    EXPECT_TRUE(m_settings.all().empty());

    const auto unknown = m_preferences.setFromText("apiKey.anthropic", "sk-secret");
    ASSERT_FALSE(unknown);
    for (const SettingKey& key : settingKeys()) {
        EXPECT_NE(unknown.error().find(key.name), std::string::npos) << unknown.error();
    }
    EXPECT_EQ(unknown.error().find("sk-secret"), std::string::npos);
    EXPECT_TRUE(m_settings.all().empty());
}

} // namespace
} // namespace norik::core
