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

using nlohmann::json;

using SettingsTest = CliTest;

TEST_F(SettingsTest, SetChecksTheTypeAndGetShowsTheStoredValueOrTheDefault) {
    const std::vector<std::pair<std::string, std::string>> refused{
        {"retentionLimit", "fifty"}, {"hasCompletedOnboarding", "yes"}, {"provider", "mistral"}};
    for (const auto& [key, value] : refused) {
        const Outcome set = norik({"config", "set", key, value});
        EXPECT_EQ(set.exitCode, 2) << key << "=" << value;
        EXPECT_TRUE(contains(set.err, "\"" + value + "\"")) << set.err;
    }
    EXPECT_FALSE(std::filesystem::exists(configHome() / "norik" / "settings.json")) << "a refused value was written";

    ASSERT_EQ(norik({"config", "set", "retentionLimit", "50"}).exitCode, 0);
    ASSERT_EQ(norik({"config", "set", "hasCompletedOnboarding", "true"}).exitCode, 0);
    ASSERT_EQ(norik({"config", "set", "provider", "openAI"}).exitCode, 0);
    EXPECT_EQ(norik({"config", "get", "retentionLimit"}).out, "50\n");
    EXPECT_EQ(norik({"config", "get", "explanationLanguage"}).out, "English\n");

    // Stored with their types, as the app reads them.
    const json file = json::parse(fileBytes(configHome() / "norik" / "settings.json"));
    EXPECT_EQ(file.at("retentionLimit"), 50);
    EXPECT_EQ(file.at("hasCompletedOnboarding"), true);
    EXPECT_EQ(file.at("provider"), "openAI");

    const Outcome listed = norik({"config", "list"});
    EXPECT_EQ(listed.exitCode, 0);
    const auto lines = linesOf(listed.out);
    ASSERT_EQ(lines.size(), core::settingKeys().size()) << listed.out;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const core::SettingKey& key = core::settingKeys()[index];
        const bool changed = file.contains(std::string(key.name));
        EXPECT_TRUE(lines[index].starts_with(std::string(key.name) + " ")) << lines[index];
        EXPECT_EQ(contains(lines[index], "(default: "), !changed) << lines[index];
        if (!changed && !key.defaultText.empty()) {
            EXPECT_TRUE(lines[index].ends_with("(default: " + std::string(key.defaultText) + ")")) << lines[index];
        }
    }
    EXPECT_TRUE(lines[0].ends_with("= openAI")) << lines[0];

    ASSERT_EQ(norik({"config", "unset", "retentionLimit"}).exitCode, 0);
    EXPECT_EQ(norik({"config", "get", "retentionLimit"}).out, "200\n");
}

TEST_F(SettingsTest, AnUnknownKeyIsRefusedWithTheListOfKnownKeys) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"config", "get", "colour"}, {"config", "set", "colour", "blue"}, {"config", "unset", "colour"}}) {
        const Outcome refused = norik(arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments[1];
        EXPECT_TRUE(contains(refused.err, "\"colour\"")) << refused.err;
        for (const core::SettingKey& key : core::settingKeys()) {
            EXPECT_TRUE(contains(refused.err, key.name)) << key.name << " not listed for " << arguments[1];
        }
    }
    EXPECT_EQ(norik({"config"}).exitCode, 2) << "a config command is required";
}

// Everything here touches the secret store, so it is one test: run in parallel, two tests would share the
// keyring of a test session.
class KeyTest : public CliTest {
protected:
    KeyTest() {
        // Under scripts/with-test-session the keys go to its throw-away gnome-keyring; elsewhere there is
        // no session bus and they go to the file store in the temporary data folder, never to a real keyring.
        if (std::getenv("NORIK_REQUIRE_SECRET_SERVICE") != nullptr) {
            for (const char* passed : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
                if (const char* value = std::getenv(passed)) {
                    m_environment[passed] = value;
                }
            }
            clearKeys();
        }
    }
    ~KeyTest() override {
        if (m_environment.contains("DBUS_SESSION_BUS_ADDRESS")) {
            clearKeys();
        }
    }

    // A keyring outlives the test, unlike the temporary folders.
    void clearKeys() {
        for (const char* provider : {"anthropic", "openAI"}) {
            EXPECT_EQ(norik({"key", "clear", provider}).exitCode, 0);
        }
    }

    Outcome record(Outcome outcome) {
        m_seen += outcome.out + outcome.err + outcome.echo;
        return outcome;
    }

    std::string m_seen; // every output of the commands run with a key around
};

TEST_F(KeyTest, AKeyComesFromStandardInputIsUsedAndIsNeverShown) {
    const std::string pipedKey = "sk-ant-piped-4f1c9e0b";
    const std::string typedKey = "sk-openai-typed-77d2a1";
    m_environment["OPENAI_API_KEY"] = "sk-openai-environment";
    m_server.respond("POST", "/v1/messages", 200, anthropicBody(tutorReply()));

    const Outcome before = record(norik({"key", "status"}));
    EXPECT_TRUE(hasLine(before.out, "Anthropic: not stored (norik key set anthropic, or set ANTHROPIC_API_KEY)"))
        << before.out;
    EXPECT_TRUE(hasLine(before.out, "OpenAI: not stored; OPENAI_API_KEY from the environment is used")) << before.out;

    EXPECT_EQ(record(norik({"key", "set", "anthropic"}, "\n" + pipedKey + "\n")).exitCode, 2) << "an empty line";
    EXPECT_EQ(record(norik({"key", "set", "local"}, pipedKey + "\n")).exitCode, 2);
    EXPECT_EQ(record(norik({"key", "status"})).out, before.out) << "a refused key was stored";

    EXPECT_EQ(record(norik({"key", "set", "anthropic"}, pipedKey + "\r\nignored second line\n")).exitCode, 0);

    // On a terminal the key is read without echo, after the prompt.
    Launch onTerminal = launch({"key", "set", "openAI"});
    onTerminal.inputOnTerminal = true;
    ChildProcess typing{onTerminal};
    ASSERT_TRUE(typing.waitForErrors("API key for OpenAI: "));
    typing.type(typedKey + "\n");
    const Outcome typed = record(typing.finish());
    EXPECT_EQ(typed.exitCode, 0) << typed.err;

    const Outcome after = record(norik({"key", "status"}));
    EXPECT_TRUE(hasLine(after.out, "Anthropic: stored")) << after.out;
    EXPECT_TRUE(hasLine(after.out, "OpenAI: stored (used rather than OPENAI_API_KEY)")) << after.out;

    // The stored key comes before the environment's.
    m_environment["ANTHROPIC_API_KEY"] = "sk-ant-environment";
    EXPECT_EQ(record(norik({"review", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), pipedKey);

    // With a keyring nothing goes to the unencrypted fallback file.
    EXPECT_EQ(std::filesystem::exists(dataHome() / "norik" / "secrets.json"),
              !m_environment.contains("DBUS_SESSION_BUS_ADDRESS"));
    EXPECT_FALSE(contains(m_seen, pipedKey));
    EXPECT_FALSE(contains(m_seen, typedKey));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(configHome())) {
        if (entry.is_regular_file()) {
            const std::string bytes = fileBytes(entry.path());
            EXPECT_FALSE(contains(bytes, pipedKey) || contains(bytes, typedKey)) << entry.path();
        }
    }

    EXPECT_EQ(record(norik({"key", "clear", "anthropic"})).exitCode, 0);
    EXPECT_TRUE(hasLine(record(norik({"key", "status"})).out,
                        "Anthropic: not stored; ANTHROPIC_API_KEY from the environment is used"));
    EXPECT_EQ(record(norik({"review", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), "sk-ant-environment");
}

} // namespace
} // namespace norik::test
