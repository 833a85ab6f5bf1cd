// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CliTestSupport.h"

#include "core/BuildVersion.h"

namespace norik::test {
namespace {

using nlohmann::json;

class HistoryTest : public CliTest {
protected:
    HistoryTest() { m_server.respond("POST", "/api/chat", 200, ollamaBody(tutorReply())); }

    Outcome review(std::vector<std::string> arguments, std::string input = {}) const {
        arguments.insert(arguments.begin(), {"review", "--provider", "local", "--endpoint", m_server.baseUrl()});
        return norik(std::move(arguments), std::move(input));
    }

    // Answers the confirmation question on a terminal.
    Outcome clearAnswering(const std::string& answer) const {
        Launch onTerminal = launch({"history", "clear"});
        onTerminal.inputOnTerminal = true;
        ChildProcess child{onTerminal};
        EXPECT_TRUE(child.waitForErrors("Clear all stored corrections and mistake stats? [y/N] "));
        child.type(answer + "\n");
        return child.finish();
    }
};

TEST_F(HistoryTest, ListsNewestFirstWithTheStartOfTheFirstLine) {
    const std::string longFirstLine(80, 'x');
    ASSERT_EQ(review({"I has a apple"}).exitCode, 0);
    ASSERT_EQ(review({}, longFirstLine + "\nSecond line of the text.").exitCode, 0);

    const auto lines = linesOf(norik({"history"}).out);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_TRUE(lines[0].ends_with("en  4/10  " + longFirstLine.substr(0, 60) + "…")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("en  4/10  I has a apple")) << lines[1];
    EXPECT_EQ(linesOf(norik({"history", "--limit", "1"}).out), std::vector<std::string>{lines[0]});

    const json stored = history();
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored[0].at("source"), longFirstLine + "\nSecond line of the text.");
    EXPECT_GT(stored[0].at("createdAt").get<std::string>(), stored[1].at("createdAt").get<std::string>());
}

TEST_F(HistoryTest, ClearsOnlyWhenConfirmedOnATerminalOrWithYes) {
    ASSERT_EQ(review({"I has a apple"}).exitCode, 0);
    const Outcome unconfirmed = norik({"history", "clear"}, "y\n");
    EXPECT_EQ(unconfirmed.exitCode, 2) << "standard input is no terminal, so --yes is required";
    EXPECT_TRUE(contains(unconfirmed.err, "--yes")) << unconfirmed.err;
    EXPECT_EQ(clearAnswering("n").exitCode, 0);
    const json counts = json::parse(norik({"stats", "--json"}).out);
    ASSERT_EQ(counts.size(), 2U) << "nothing was cleared yet";
    EXPECT_EQ(counts[0].at("category"), "grammar");

    EXPECT_EQ(clearAnswering("y").exitCode, 0);
    EXPECT_EQ(norik({"stats", "--json"}).out, "[]\n");
}

TEST_F(HistoryTest, ClearsWithYesWhereNobodyCanConfirm) {
    ASSERT_EQ(review({"I has a apple"}).exitCode, 0);
    EXPECT_EQ(norik({"history", "clear", "--yes"}).exitCode, 0);
    EXPECT_EQ(history(), json::array());
    EXPECT_EQ(norik({"stats", "--json"}).out, "[]\n");
}

using ModelsTest = CliTest;

TEST_F(ModelsTest, ListsTheModelsOfEachProvider) {
    const Outcome withoutKey = norik({"models", "--provider", "anthropic"});
    EXPECT_EQ(withoutKey.exitCode, 1);
    EXPECT_TRUE(contains(withoutKey.err, "ANTHROPIC_API_KEY")) << withoutKey.err;
    EXPECT_TRUE(m_server.requests().empty());

    m_environment["ANTHROPIC_API_KEY"] = "sk-ant";
    m_environment["OPENAI_API_KEY"] = "sk-openai";
    // The listings themselves are the clients' business; here: the key from the environment, the provider
    // chosen, one sorted id a line.
    auto lastPage = json::parse(example("anthropic-models-200.json"));
    lastPage["has_more"] = false;
    m_server.respond("GET", "/v1/models", 200, lastPage.dump());
    const Outcome anthropic = norik({"models"});
    EXPECT_EQ(anthropic.exitCode, 0) << anthropic.err;
    EXPECT_EQ(linesOf(anthropic.out), std::vector<std::string>{"claude-sonnet-4-20250514"});
    EXPECT_EQ(m_server.requests().back().header("x-api-key"), "sk-ant");

    m_server.respond("GET", "/v1/models", 200, example("openai-models-200.json"));
    const Outcome openAI = norik({"models", "--provider", "openAI"});
    EXPECT_EQ(openAI.exitCode, 0) << openAI.err;
    EXPECT_TRUE(std::ranges::is_sorted(linesOf(openAI.out)));
    EXPECT_TRUE(hasLine(openAI.out, "gpt-4o-mini")) << openAI.out;
    EXPECT_EQ(m_server.requests().back().header("Authorization"), "Bearer sk-openai");

    ASSERT_EQ(norik({"config", "set", "localEndpoint", m_server.baseUrl()}).exitCode, 0);
    m_server.respond("GET", "/api/tags", 200, example("ollama-tags-200-empty.json"));
    const Outcome empty = norik({"models", "--provider", "local"});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.out, "");
    EXPECT_TRUE(contains(empty.err, m_server.baseUrl())) << "the hint names the address asked: " << empty.err;
}

using CommandLineTest = CliTest;

TEST_F(CommandLineTest, HelpOnEveryLevelVersionAndUsageErrors) {
    // Without a command norik is the tray app, which needs a display: the child gets none.
    const Outcome bare = norik({});
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_TRUE(contains(bare.err, "no X11 display")) << bare.err;
    EXPECT_TRUE(contains(bare.err, "norik review")) << bare.err;
    const Outcome help = norik({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"review", "config", "key", "models", "history", "stats"}) {
        EXPECT_TRUE(contains(help.out, command)) << command;
    }
    EXPECT_EQ(norik({"--version"}).out, "norik " + std::string(core::kBuildVersion) + "\n");

    const Outcome reviewHelp = norik({"review", "--help"});
    EXPECT_EQ(reviewHelp.exitCode, 0);
    EXPECT_TRUE(contains(reviewHelp.out, "Usage: norik review")) << reviewHelp.out;
    EXPECT_TRUE(contains(reviewHelp.out, "--no-history"));
    const Outcome nestedHelp = norik({"history", "clear", "--help"});
    EXPECT_EQ(nestedHelp.exitCode, 0);
    EXPECT_TRUE(contains(nestedHelp.out, "--yes")) << nestedHelp.out;

    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"translate"}, {"history", "--limit", "0"}, {"key", "set"}}) {
        const Outcome refused = norik(arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments.back();
        EXPECT_NE(refused.err, "") << arguments.back();
    }
}

} // namespace
} // namespace norik::test
