// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <iterator>
#include <nlohmann/json.hpp>

#include "support/ChildProcess.h"
#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"

namespace norik::test {

inline std::string fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string line(text.substr(0, end));
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

inline bool hasLine(std::string_view text, std::string_view line) {
    const auto lines = linesOf(text);
    return std::ranges::find(lines, line) != lines.end();
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

inline std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// A review as a model returns it, with two issues in categories spelled the way models spell them.
inline nlohmann::json tutorReply() {
    return {
        {"language", "en"},
        {"corrected", "I have an apple."},
        {"improved", "I've got an apple."},
        {"issues",
         {{{"excerpt", "I has"}, {"explanation", "The verb agrees with its subject: I have."}, {"category", "Grammar"}},
          {{"excerpt", "a apple"}, {"explanation", "Before a vowel sound, use an."}, {"category", "word choice"}}}},
        {"score", 4}};
}

// The providers' recorded replies with their text replaced by `reply`.
inline std::string anthropicBody(const nlohmann::json& reply) {
    auto body = nlohmann::json::parse(example("anthropic-messages-200.json"));
    body["content"][0]["text"] = reply.dump();
    return body.dump();
}

inline std::string openAIBody(const nlohmann::json& reply) {
    auto body = nlohmann::json::parse(example("openai-chat-200.json"));
    body["choices"][0]["message"]["content"] = reply.dump();
    return body.dump();
}

inline std::string ollamaBody(const nlohmann::json& reply) {
    auto body = nlohmann::json::parse(example("ollama-chat-200.json"));
    body["message"]["content"] = reply.dump();
    return body.dump();
}

// The first request message whose role is `role`, from any of the three wire formats.
inline std::string messageText(const RecordedRequest& request, std::string_view role) {
    const auto body = nlohmann::json::parse(request.body);
    if (role == "system" && body.contains("system")) {
        return body.at("system").get<std::string>();
    }
    for (const auto& message : body.at("messages")) {
        if (message.at("role") == role) {
            return message.at("content").get<std::string>();
        }
    }
    return {};
}

// The built `norik` run as a child process with a temporary HOME and XDG folders of its own, no session
// bus (so API keys go to the file store inside those folders), no colour, and both cloud providers'
// base addresses pointing at a loopback server.
class CliTest : public ::testing::Test {
protected:
    CliTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "norik-cli-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        m_root = pattern;
        for (const char* folder : {"home", "config", "data", "cache"}) {
            std::filesystem::create_directories(m_root / folder);
        }
        m_environment = {
            {"HOME", (m_root / "home").string()},
            {"XDG_CONFIG_HOME", configHome().string()},
            {"XDG_DATA_HOME", dataHome().string()},
            {"XDG_CACHE_HOME", (m_root / "cache").string()},
            {"LANG", "C.UTF-8"},
            {"NO_COLOR", "1"},
            {"NORIK_ANTHROPIC_BASE_URL", m_server.baseUrl()},
            {"NORIK_OPENAI_BASE_URL", m_server.baseUrl() + "/v1"},
        };
        for (const char* passed : {"PATH", "TZ", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(passed)) {
                m_environment[passed] = value;
            }
        }
    }

    ~CliTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    [[nodiscard]] std::filesystem::path configHome() const { return m_root / "config"; }
    [[nodiscard]] std::filesystem::path dataHome() const { return m_root / "data"; }

    [[nodiscard]] Launch launch(std::vector<std::string> arguments, std::string input = {}) const {
        Launch result;
        result.arguments.emplace_back(NORIK_BINARY);
        result.arguments.insert(result.arguments.end(), arguments.begin(), arguments.end());
        for (const auto& [name, value] : m_environment) {
            result.environment.push_back(name + "=" + value);
        }
        result.input = std::move(input);
        return result;
    }

    Outcome norik(std::vector<std::string> arguments, std::string input = {}) const {
        return runProcess(launch(std::move(arguments), std::move(input)));
    }

    // The stored reviews, read back through the command line.
    [[nodiscard]] nlohmann::json history() const {
        const Outcome listed = norik({"history", "--json"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        return nlohmann::json::parse(listed.out, nullptr, false);
    }

    [[nodiscard]] std::vector<RecordedRequest> requestsTo(std::string_view path) const {
        std::vector<RecordedRequest> found;
        for (RecordedRequest& request : m_server.requests()) {
            if (request.path == path) {
                found.push_back(std::move(request));
            }
        }
        return found;
    }

    std::filesystem::path m_root;
    LoopbackServer m_server;
    std::map<std::string, std::string> m_environment;
};

} // namespace norik::test
