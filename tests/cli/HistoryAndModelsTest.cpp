// SPDX-License-Identifier: GPL-3.0-or-later
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
    HistoryTest() {
        m_server.respond("POST", "/api/chat", 200, replyBody("ollama-chat-200.json", "/message/content", tutorReply()));
    }

    Outcome review(const std::string& input) const {
        return norik({"review", "--provider", "local", "--endpoint", m_server.baseUrl()}, input);
    }
};

TEST_F(HistoryTest, ListsNewestFirstWithTheStartOfTheFirstLine) {
    const std::string longFirstLine(80, 'x');
    ASSERT_EQ(review("I has a apple").exitCode, 0);
    ASSERT_EQ(review("\n  " + longFirstLine + "\nSecond line of the text.\n\n").exitCode, 0);
    EXPECT_FALSE(m_server.requests().back().hasHeader("Authorization")) << "a local server takes no key";
    const std::string listed = norik({"history"}).out;
    EXPECT_TRUE(contains(listed, longFirstLine.substr(0, 60) + "…\n") && !contains(listed, longFirstLine)) << listed;
    EXPECT_LT(listed.find(longFirstLine.substr(0, 60)), listed.find("I has a apple")) << listed;
    EXPECT_EQ(norik({"history", "--limit", "1"}).out, listed.substr(0, listed.find('\n') + 1));
    EXPECT_EQ(history().at(0).at("source"), longFirstLine + "\nSecond line of the text.");
}

TEST_F(HistoryTest, ClearsOnlyWhenConfirmedOnATerminalOrWithYes) {
    ASSERT_EQ(review("I has a apple").exitCode, 0);
    EXPECT_EQ(norik({"history", "clear"}, "y\n").exitCode, 2) << "standard input is no terminal: --yes is required";
    for (const char* answer : {"n", "y"}) {
        Launch onTerminal = launch({"history", "clear"});
        onTerminal.inputOnTerminal = true;
        ChildProcess child{onTerminal};
        ASSERT_TRUE(child.waitForErrors("[y/N] "));
        child.type(std::string(answer) + "\n");
        EXPECT_EQ(child.finish().exitCode, 0);
        EXPECT_EQ(norik({"stats", "--json"}).out == "[]\n", *answer == 'y') << answer;
    }
    ASSERT_EQ(review("I has a apple").exitCode, 0);
    EXPECT_EQ(norik({"history", "clear", "--yes"}).exitCode, 0);
    EXPECT_EQ(history(), json::array());
}

TEST_F(HistoryTest, AnEmptyModelListNamesTheAddressAsked) {
    m_server.respond("GET", "/api/tags", 200, example("ollama-tags-200-empty.json"));
    const Outcome empty = norik({"models", "--provider", "local", "--endpoint", m_server.baseUrl()});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.out, "");
    EXPECT_TRUE(contains(empty.err, m_server.baseUrl())) << empty.err;
}

TEST_F(HistoryTest, HelpOnEveryLevelVersionAndUsageErrors) {
    EXPECT_TRUE(contains(norik({"--help"}).out, "review"));
    EXPECT_TRUE(contains(norik({"history", "clear", "--help"}).out, "--yes"));
    EXPECT_EQ(norik({"--version"}).out, "norik " + std::string(core::kBuildVersion) + "\n");
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"translate"}, {"history", "--limit", "0"}, {"key", "set"}}) {
        const Outcome refused = norik(arguments);
        EXPECT_EQ(refused.exitCode, 2) << arguments.back();
        EXPECT_NE(refused.err, "") << arguments.back();
    }
}

} // namespace
} // namespace norik::test
