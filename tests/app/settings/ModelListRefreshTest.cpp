// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/ModelListRefresh.h"

#include <memory>
#include <string>
#include <vector>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "SettingsTesting.h"

#include "support/LoopbackServer.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using core::LLMProvider;
using testing::settleWorkers;
using testing::waitUntil;

// As standard strings, so that a failure prints the names.
std::vector<std::string> listed(const QSignalSpy& spy, qsizetype index) {
    std::vector<std::string> names;
    for (const QString& name : spy.at(index).at(0).toStringList()) {
        names.push_back(name.toStdString());
    }
    return names;
}

TEST(ModelListRefreshTest, ListsEachProviderAfterThePauseAndNothingOnFailure) {
    test::LoopbackServer server;
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"claude-sonnet-4-5"},{"id":"claude-opus-4-1"}]})");
    server.respond("GET", "/openai/v1/models", 200, R"({"data":[{"id":"gpt-4o"},{"id":"whisper-1"}]})");
    server.respond("GET", "/api/tags", 200, R"({"models":[{"name":"llama3:8b"},{"name":"gemma2:2b"}]})");
    ModelListRefresh refresh({.anthropic = server.baseUrl(), .openAI = server.baseUrl() + "/openai/v1"});
    QSignalSpy spy(&refresh, &ModelListRefresh::modelsListed);

    refresh.restart(LLMProvider::anthropic, "sk-ant", "");
    ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }));
    EXPECT_EQ(listed(spy, 0), (std::vector<std::string>{"claude-sonnet-4-5", "claude-opus-4-1"}));
    ASSERT_EQ(server.requests().size(), 1U);
    EXPECT_EQ(server.requests().front().header("x-api-key"), "sk-ant");

    refresh.restart(LLMProvider::openAI, "sk-oa", "");
    ASSERT_TRUE(waitUntil([&] { return spy.count() == 2; }));
    EXPECT_EQ(listed(spy, 1), std::vector<std::string>{"gpt-4o"});

    refresh.restart(LLMProvider::local, "", server.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return spy.count() == 3; }));
    EXPECT_EQ(listed(spy, 2), (std::vector<std::string>{"gemma2:2b", "llama3:8b"}));

    {
        SCOPED_TRACE("a server that refuses the connection lists nothing, and says so with an empty list");
        refresh.restart(LLMProvider::local, "", "http://127.0.0.1:" + std::to_string(test::refusedPort()));
        ASSERT_TRUE(waitUntil([&] { return spy.count() == 4; }));
        EXPECT_TRUE(listed(spy, 3).empty());
    }
}

TEST(ModelListRefreshTest, OnlyTheNewestJobReports) {
    test::LoopbackServer older;
    test::LoopbackServer newer;
    older.respondSlowly("GET", "/api/tags", 3s, 200, R"({"models":[{"name":"older"}]})");
    newer.respond("GET", "/api/tags", 200, R"({"models":[{"name":"newer"}]})");
    ModelListRefresh refresh;
    QSignalSpy spy(&refresh, &ModelListRefresh::modelsListed);

    {
        SCOPED_TRACE("a job restarted during its pause never fetches");
        refresh.restart(LLMProvider::local, "", older.baseUrl());
        refresh.restart(LLMProvider::local, "", newer.baseUrl());
        ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }));
        ASSERT_TRUE(settleWorkers());
        EXPECT_TRUE(older.requests().empty());
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(listed(spy, 0), std::vector<std::string>{"newer"});
    }
    {
        SCOPED_TRACE("a job restarted while it fetches is stopped and its result dropped");
        spy.clear();
        refresh.restart(LLMProvider::local, "", older.baseUrl());
        ASSERT_TRUE(waitUntil([&] { return older.requests().size() == 1; }));
        refresh.restart(LLMProvider::local, "", newer.baseUrl());
        ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }));
        ASSERT_TRUE(settleWorkers());
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(listed(spy, 0), std::vector<std::string>{"newer"});
    }
    {
        SCOPED_TRACE("a cancelled job reports nothing");
        spy.clear();
        refresh.restart(LLMProvider::local, "", older.baseUrl());
        ASSERT_TRUE(waitUntil([&] { return older.requests().size() == 2; }));
        refresh.cancel();
        ASSERT_TRUE(settleWorkers());
        EXPECT_EQ(spy.count(), 0);
    }
}

// The worker outlives the object here; ASan reports it if the worker's answer reaches the freed object.
TEST(ModelListRefreshTest, DestructionStopsTheFetchAndDropsItsResult) {
    test::LoopbackServer server;
    server.neverAnswer("GET", "/api/tags");
    auto refresh = std::make_unique<ModelListRefresh>();
    refresh->restart(LLMProvider::local, "", server.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));

    refresh.reset();
    // Without the stop the fetch would wait for this server, which never answers, until its own time-out.
    EXPECT_TRUE(settleWorkers());
}

} // namespace
} // namespace norik::app
