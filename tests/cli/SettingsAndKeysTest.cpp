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

TEST_F(SettingsTest, AnUnknownKeyOrAValueOfTheWrongTypeIsRefused) {
    const std::vector<std::pair<std::string, std::string>> wrongType{
        {"retentionLimit", "fifty"}, {"hasCompletedOnboarding", "yes"}, {"provider", "mistral"}};
    for (const auto& [key, value] : wrongType) {
        const Outcome set = norik({"config", "set", key, value});
        EXPECT_EQ(set.exitCode, 2) << key << "=" << value;
        EXPECT_TRUE(contains(set.err, "\"" + value + "\"")) << set.err;
    }

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"config", "get", "colour"}, {"config", "set", "colour", "blue"}, {"config", "unset", "colour"}}) {
        const Outcome refused = norik(arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments[1];
        EXPECT_TRUE(contains(refused.err, "\"colour\"")) << refused.err;
        for (const core::SettingKey& key : core::settingKeys()) {
            EXPECT_TRUE(contains(refused.err, key.name)) << key.name << " not listed for " << arguments[1];
        }
    }
    EXPECT_FALSE(std::filesystem::exists(configHome() / "norik" / "settings.json")) << "a refused value was written";
}

TEST_F(SettingsTest, ValuesAreStoredWithTheirTypesAndTheOthersListedAsDefaults) {
    ASSERT_EQ(norik({"config", "set", "retentionLimit", "50"}).exitCode, 0);
    ASSERT_EQ(norik({"config", "set", "hasCompletedOnboarding", "true"}).exitCode, 0);
    ASSERT_EQ(norik({"config", "set", "provider", "openAI"}).exitCode, 0);
    EXPECT_EQ(norik({"config", "get", "retentionLimit"}).out, "50\n");

    // As the app reads them.
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

    [[nodiscard]] bool usesKeyring() const { return m_environment.contains("DBUS_SESSION_BUS_ADDRESS"); }

    // A keyring outlives the test, unlike the temporary folders.
    void clearKeyring(const std::string& provider) {
        if (usesKeyring()) {
            EXPECT_EQ(norik({"key", "clear", provider}).exitCode, 0);
        }
    }

    Outcome seen(Outcome outcome) {
        m_seen += outcome.out + outcome.err + outcome.echo;
        return outcome;
    }

    void expectShownNowhere(const std::string& key) const {
        EXPECT_FALSE(contains(m_seen, key));
        for (const auto& entry : std::filesystem::recursive_directory_iterator(configHome())) {
            EXPECT_FALSE(entry.is_regular_file() && contains(fileBytes(entry.path()), key)) << entry.path();
        }
        // With a keyring nothing goes to the unencrypted fallback file.
        EXPECT_EQ(std::filesystem::exists(dataHome() / "norik" / "secrets.json"), !usesKeyring());
    }

    std::string m_seen; // every output of the commands run with a key around
};

TEST_F(KeyTest, APipedKeyIsStoredUsedBeforeTheEnvironmentsAndCleared) {
    clearKeyring("anthropic");
    const std::string key = "sk-ant-piped-4f1c9e0b";
    m_environment["ANTHROPIC_API_KEY"] = "sk-ant-environment";
    m_server.respond("POST", "/v1/messages", 200, anthropicBody(tutorReply()));

    EXPECT_EQ(seen(norik({"key", "set", "anthropic"}, "\n" + key + "\n")).exitCode, 2) << "an empty line";
    EXPECT_TRUE(hasLine(seen(norik({"key", "status"})).out,
                        "Anthropic: not stored; ANTHROPIC_API_KEY from the environment is used"));

    EXPECT_EQ(seen(norik({"key", "set", "anthropic"}, key + "\r\nsecond line\n")).exitCode, 0);
    const Outcome status = seen(norik({"key", "status"}));
    EXPECT_TRUE(hasLine(status.out, "Anthropic: stored (used rather than ANTHROPIC_API_KEY)")) << status.out;
    EXPECT_EQ(seen(norik({"review", "--no-history", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), key);
    expectShownNowhere(key);

    EXPECT_EQ(seen(norik({"key", "clear", "anthropic"})).exitCode, 0);
    EXPECT_EQ(seen(norik({"review", "--no-history", "I has a apple"})).exitCode, 0);
    EXPECT_EQ(requestsTo("/v1/messages").back().header("x-api-key"), "sk-ant-environment");
}

TEST_F(KeyTest, OnATerminalTheKeyIsReadWithoutEcho) {
    clearKeyring("openAI");
    const std::string key = "sk-openai-typed-77d2a1";
    EXPECT_TRUE(hasLine(seen(norik({"key", "status"})).out,
                        "OpenAI: not stored (norik key set openAI, or set OPENAI_API_KEY)"));
    EXPECT_EQ(seen(norik({"key", "set", "local"}, key + "\n")).exitCode, 2) << "local models take no key";

    Launch onTerminal = launch({"key", "set", "openAI"});
    onTerminal.inputOnTerminal = true;
    ChildProcess typing{onTerminal};
    ASSERT_TRUE(typing.waitForErrors("API key for OpenAI: "));
    typing.type(key + "\n");
    const Outcome typed = seen(typing.finish());
    EXPECT_EQ(typed.exitCode, 0) << typed.err;
    EXPECT_TRUE(contains(typed.echo, "\n")) << "Enter still moves to the next line";

    EXPECT_TRUE(hasLine(seen(norik({"key", "status"})).out, "OpenAI: stored"));
    expectShownNowhere(key);
    clearKeyring("openAI");
}

} // namespace
} // namespace norik::test
