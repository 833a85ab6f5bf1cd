// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/ChildProcess.h"
#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"
#include "support/TestFiles.h"

namespace norik::test {

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// A review as a model returns it, with two issues in categories spelled the way models spell them.
inline nlohmann::json tutorReply() {
    return nlohmann::json::parse(
        R"({"language": "en", "corrected": "I have an apple.", "improved": "I've got an apple.",
        "issues": [{"excerpt": "I has", "explanation": "The verb agrees with its subject.", "category": "Grammar"},
                   {"excerpt": "a apple", "explanation": "Before a vowel sound, use an.", "category": "word choice"}],
        "score": 4})");
}

// Whether `text` went out in the request's JSON body, in any of the three wire formats.
inline bool carries(const RecordedRequest& request, const std::string& text) {
    const std::string escaped = nlohmann::json(text).dump();
    return contains(request.body, std::string_view(escaped).substr(1, escaped.size() - 2));
}

struct Step {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out; // standard error is empty exactly when the command succeeds
    std::string input = {};
};

// The built `norik` run as a child process with a temporary HOME and XDG folders of its own, no session
// bus (so API keys go to the file store inside those folders), no colour, both cloud providers' base
// addresses pointing at a loopback server that answers Anthropic's messages with a review, and an
// Anthropic key in the environment.
class CliTest : public ::testing::Test {
protected:
    CliTest() {
        for (const char* folder : {"home", "config", "data", "cache"}) {
            std::filesystem::create_directory(m_root / folder);
        }
        for (const char* passed : {"PATH", "TZ", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(passed)) {
                m_environment[passed] = value;
            }
        }
        m_server.respond("POST", "/v1/messages", 200,
                         exampleWith("anthropic-messages-200.json", "/content/0/text", tutorReply().dump()));
    }

    [[nodiscard]] std::filesystem::path configHome() const { return m_root / "config"; }

    [[nodiscard]] Launch launch(const std::vector<std::string>& arguments, std::string input = {},
                                bool inputOnTerminal = false) const {
        Launch result{.arguments = {NORIK_BINARY}, .input = std::move(input), .inputOnTerminal = inputOnTerminal};
        result.arguments.insert(result.arguments.end(), arguments.begin(), arguments.end());
        for (const auto& [name, value] : m_environment) {
            result.environment.push_back(name + "=" + value);
        }
        return result;
    }

    Outcome norik(const std::vector<std::string>& arguments, std::string input = {}) const {
        return ChildProcess(launch(arguments, std::move(input))).finish();
    }

    void run(const std::vector<Step>& steps) const {
        for (const Step& step : steps) {
            const Outcome outcome = norik(step.arguments, step.input);
            SCOPED_TRACE(step.arguments.back());
            EXPECT_EQ(outcome.exitCode, step.exitCode) << outcome.err;
            EXPECT_EQ(outcome.out, step.out);
            EXPECT_EQ(outcome.err.empty(), step.exitCode == 0) << outcome.err;
        }
    }

    [[nodiscard]] nlohmann::json history() const {
        const Outcome listed = norik({"history", "--json"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        return nlohmann::json::parse(listed.out, nullptr, false);
    }

    [[nodiscard]] std::vector<RecordedRequest> requestsTo(std::string_view path) const {
        std::vector<RecordedRequest> found = m_server.requests();
        std::erase_if(found, [&](const RecordedRequest& request) { return request.path != path; });
        return found;
    }

    tests::TemporaryFolder m_temporary;
    const std::filesystem::path m_root = m_temporary.path();
    LoopbackServer m_server;
    std::map<std::string, std::string> m_environment{
        {"HOME", (m_root / "home").string()},
        {"XDG_CONFIG_HOME", configHome().string()},
        {"XDG_DATA_HOME", (m_root / "data").string()},
        {"XDG_CACHE_HOME", (m_root / "cache").string()},
        {"LANG", "C.UTF-8"},
        {"NO_COLOR", "1"},
        {"NORIK_ANTHROPIC_BASE_URL", m_server.baseUrl()},
        {"NORIK_OPENAI_BASE_URL", m_server.baseUrl() + "/v1"},
        {"ANTHROPIC_API_KEY", "sk-ant-from-environment"},
    };
};

} // namespace norik::test
