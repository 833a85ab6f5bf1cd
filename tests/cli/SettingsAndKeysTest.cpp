// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CliTestSupport.h"

#include "core/preferences/Preferences.h"

namespace norik::test {
namespace {

using SettingsTest = CliTest;

TEST_F(SettingsTest, ValuesAreStoredWithTheirTypesAndUnknownKeysOrWrongTypesRefused) {
    for (const std::vector<std::string>& refused :
         std::vector<std::vector<std::string>>{{"config", "set", "retentionLimit", "fifty"},
                                               {"config", "set", "provider", "mistral"},
                                               {"config", "get", "colour"},
                                               {"config", "unset", "colour"}}) {
        const Outcome outcome = norik(refused);
        EXPECT_EQ(outcome.exitCode, 2) << refused[2];
        EXPECT_TRUE(contains(outcome.err, "\"" + refused.back() + "\"")) << outcome.err;
    }
    EXPECT_FALSE(std::filesystem::exists(configHome() / "norik" / "settings.json")) << "a refused value was written";

    ASSERT_EQ(norik({"config", "set", "retentionLimit", "50"}).exitCode, 0);
    ASSERT_EQ(norik({"config", "set", "hasCompletedOnboarding", "true"}).exitCode, 0);
    EXPECT_EQ(norik({"config", "get", "retentionLimit"}).out, "50\n");
    const auto file = nlohmann::json::parse(tests::readFile(configHome() / "norik" / "settings.json"));
    EXPECT_EQ(file, nlohmann::json::parse(R"({"retentionLimit": 50, "hasCompletedOnboarding": true})"));
    const std::string listed = norik({"config", "list"}).out;
    for (const core::SettingKey& key : core::settingKeys()) {
        EXPECT_TRUE(contains(listed, std::string(key.name) + " ")) << key.name << " not listed";
    }
    ASSERT_EQ(norik({"config", "unset", "retentionLimit"}).exitCode, 0);
    EXPECT_NE(norik({"config", "get", "retentionLimit"}).out, "50\n");
}

// Under scripts/with-test-session the keys go to its throw-away gnome-keyring; elsewhere there is no
// session bus and they go to the file store in the temporary data folder, never to a real keyring. Tests
// may run side by side in one test session, so each touches the key of one provider only.
class KeyTest : public CliTest {
protected:
    KeyTest() {
        if (std::getenv("NORIK_REQUIRE_SECRET_SERVICE") != nullptr) {
            for (const char* passed : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
                if (const char* value = std::getenv(passed)) {
                    m_environment[passed] = value;
                }
            }
        }
    }
    // A keyring outlives the test, unlike the temporary folders.
    ~KeyTest() override { seen(norik({"key", "clear", m_provider})); }

    Outcome seen(Outcome outcome) {
        m_seen += outcome.out + outcome.err + outcome.echo;
        return outcome;
    }

    void expectShownNowhere(const std::string& key) const {
        EXPECT_FALSE(contains(m_seen, key));
        for (const auto& entry : std::filesystem::recursive_directory_iterator(configHome())) {
            EXPECT_FALSE(entry.is_regular_file() && contains(tests::readFile(entry.path()), key)) << entry.path();
        }
        // With a keyring nothing goes to the unencrypted fallback file.
        EXPECT_EQ(std::filesystem::exists(dataHome() / "norik" / "secrets.json"),
                  !m_environment.contains("DBUS_SESSION_BUS_ADDRESS"));
    }

    std::string m_provider = "anthropic";
    std::string m_seen; // every output of the commands run with a key around
};

TEST_F(KeyTest, APipedKeyIsStoredUsedBeforeTheEnvironmentsAndCleared) {
    seen(norik({"key", "clear", m_provider}));
    const std::string key = "sk-ant-piped-4f1c9e0b";
    m_environment["ANTHROPIC_API_KEY"] = "sk-ant-environment";
    m_server.respond("POST", "/v1/messages", 200, anthropicBody(tutorReply()));
    EXPECT_EQ(seen(norik({"key", "set", "anthropic"}, "\n" + key + "\n")).exitCode, 2) << "an empty line";
    EXPECT_EQ(seen(norik({"key", "set", "anthropic"}, key + "\r\nsecond line\n")).exitCode, 0);
    EXPECT_TRUE(contains(seen(norik({"key", "status"})).out, "Anthropic: stored"));
    EXPECT_EQ(seen(norik({"review", "--no-history", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), key);
    expectShownNowhere(key);

    EXPECT_EQ(seen(norik({"key", "clear", "anthropic"})).exitCode, 0);
    EXPECT_EQ(seen(norik({"review", "--no-history", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), "sk-ant-environment");
}

TEST_F(KeyTest, OnATerminalTheKeyIsReadWithoutEcho) {
    m_provider = "openAI";
    seen(norik({"key", "clear", m_provider}));
    const std::string key = "sk-openai-typed-77d2a1";
    EXPECT_EQ(seen(norik({"key", "set", "local"}, key + "\n")).exitCode, 2) << "local models take no key";
    Launch onTerminal = launch({"key", "set", "openAI"});
    onTerminal.inputOnTerminal = true;
    ChildProcess typing{onTerminal};
    ASSERT_TRUE(typing.waitForErrors("API key for OpenAI: "));
    typing.type(key + "\n");
    const Outcome typed = seen(typing.finish());
    EXPECT_EQ(typed.exitCode, 0) << typed.err;
    EXPECT_TRUE(contains(typed.echo, "\n")) << "Enter still moves to the next line";
    EXPECT_TRUE(contains(seen(norik({"key", "status"})).out, "OpenAI: stored"));
    expectShownNowhere(key);
}

} // namespace
} // namespace norik::test
