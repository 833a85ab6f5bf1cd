// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/AnthropicClient.h"

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"

namespace norik::core {
namespace {

using nlohmann::json;
using test::example;
using test::exampleMessage;

constexpr std::string_view kUnreachable = "Couldn't reach the Anthropic API. Check your connection.";

class AnthropicClientTest : public testing::Test {
protected:
    AnthropicClient client(std::string key = "sk-ant-test") const {
        return {std::move(key), "claude-haiku-4-5-20251001", server.baseUrl()};
    }
    test::LoopbackServer server;
};

TEST_F(AnthropicClientTest, SendsTheMessagesRequestAndReturnsTheFirstTextBlock) {
    server.respond("POST", "/v1/messages", 200, example("anthropic-messages-200.json"));
    const auto reply = client().complete("You are a tutor.", "Text to review:\n\"\"\"\nHi\n\"\"\"");
    ASSERT_TRUE(reply.has_value()) << reply.error().userMessage();
    EXPECT_EQ(*reply, json::parse(example("anthropic-messages-200.json"))["content"][0]["text"].get<std::string>());

    ASSERT_EQ(server.requests().size(), 1U);
    const auto request = server.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/messages");
    EXPECT_EQ(request.header("x-api-key"), "sk-ant-test");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_FALSE(request.hasHeader("authorization"));

    const json body = json::parse(request.body);
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(body.size(), 5U);
    EXPECT_EQ(body["model"], "claude-haiku-4-5-20251001");
    EXPECT_TRUE(body["max_tokens"].is_number_integer());
    EXPECT_EQ(body["max_tokens"], 4096);
    EXPECT_TRUE(body["temperature"].is_number_float());
    EXPECT_DOUBLE_EQ(body["temperature"].get<double>(), 0.2);
    EXPECT_EQ(body["system"], "You are a tutor.");
    EXPECT_EQ(body["messages"], json::parse(R"([{"role":"user","content":"Text to review:\n\"\"\"\nHi\n\"\"\""}])"));
}

TEST_F(AnthropicClientTest, TheReplyHasRoomForTwoCopiesOfTheLongestText) {
    server.respond("POST", "/v1/messages", 200, example("anthropic-messages-200.json"));
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        text += "ж"; // a token or more each in some tokenizers
    }
    ASSERT_TRUE(client().complete("s", text).has_value());
    EXPECT_GE(json::parse(server.requests().back().body)["max_tokens"].get<int>(), 2 * 4000);
}

TEST_F(AnthropicClientTest, OnlyAnEmptyKeyIsMissing) {
    server.respond("POST", "/v1/messages", 200, example("anthropic-messages-200.json"));
    EXPECT_TRUE(client(" ").complete("s", "u").has_value()); // a blank key is sent, not treated as missing
    EXPECT_EQ(server.requests().size(), 1U);
}

TEST_F(AnthropicClientTest, EmptyKeySendsNothingAndAKeyWithALineBreakIsRejectedUnsent) {
    EXPECT_EQ(client("").complete("s", "u").error(), ReviewError(LLMError::missingAPIKey()));
    EXPECT_EQ(client("sk-ant-pasted\n").complete("s", "u").error(), ReviewError(LLMError::invalidAPIKey()));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AnthropicClientTest, DecodesTheSuccessBodies) {
    server.respond("POST", "/v1/messages", 200, example("anthropic-messages-200-empty-content.json"));
    EXPECT_EQ(client().complete("s", "u").value(), "");

    server.respond("POST", "/v1/messages", 200, R"({"content":[{"type":"text","text":"first"},{"text":"second"}]})");
    EXPECT_EQ(client().complete("s", "u").value(), "first");

    for (const char* name : {"anthropic-messages-200-thinking.json", "anthropic-messages-200-tool-use.json"}) {
        server.respond("POST", "/v1/messages", 200, example(name));
        const auto reply = client().complete("s", "u");
        ASSERT_FALSE(reply.has_value()) << name;
        EXPECT_TRUE(test::isDecodingError(reply.error())) << name; // passed on, not turned into invalidResponse
        EXPECT_FALSE(reply.error().userMessage().empty());
    }
}

struct StatusCase {
    const char* name;
    int status;
    std::string body;
    LLMError expected;
};

class AnthropicStatusTest : public testing::TestWithParam<StatusCase> {};

std::string cutOffReply() {
    json body = json::parse(example("anthropic-messages-200.json"));
    body["stop_reason"] = "max_tokens";
    return body.dump();
}

TEST_P(AnthropicStatusTest, ClassifiesTheStatus) {
    test::LoopbackServer server;
    server.respond("POST", "/v1/messages", GetParam().status, GetParam().body);
    const auto reply = AnthropicClient("key", "claude-x", server.baseUrl()).complete("s", "u");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), ReviewError(GetParam().expected)) << reply.error().userMessage();
}

INSTANTIATE_TEST_SUITE_P(
    Table, AnthropicStatusTest,
    testing::Values(
        StatusCase{"CutOffAtTheTokenLimit", 200, cutOffReply(), LLMError::replyCutOff()},
        StatusCase{"Unauthorized", 401, example("anthropic-error-401.json"), LLMError::invalidAPIKey()},
        StatusCase{"UnknownModelIsAnApiErrorNotModelNotFound", 404, example("anthropic-error-404-model.json"),
                   LLMError::apiError(404, exampleMessage("anthropic-error-404-model.json"))},
        StatusCase{"RateLimitedWithMessage", 429, example("anthropic-error-429.json"),
                   LLMError::rateLimited(exampleMessage("anthropic-error-429.json"))},
        StatusCase{"RateLimitedWithoutBody", 429, "", LLMError::rateLimited(std::nullopt)},
        StatusCase{"CreditBalance", 400, example("anthropic-error-400-credit-balance.json"),
                   LLMError::apiError(400, exampleMessage("anthropic-error-400-credit-balance.json"))},
        StatusCase{"Forbidden", 403, example("anthropic-error-403.json"),
                   LLMError::apiError(403, exampleMessage("anthropic-error-403.json"))},
        StatusCase{"TooLargeWithoutEnvelope", 413, example("anthropic-error-413.json"),
                   LLMError::apiError(413, exampleMessage("anthropic-error-413.json"))},
        StatusCase{"ServerError", 500, example("anthropic-error-500.json"),
                   LLMError::apiError(500, "Internal server error")},
        StatusCase{"Overloaded", 529, example("anthropic-error-529.json"), LLMError::apiError(529, "Overloaded")},
        StatusCase{"UnavailableWithHtmlBody", 503, "<html>Service Unavailable</html>",
                   LLMError::apiError(503, std::nullopt)}),
    [](const testing::TestParamInfo<StatusCase>& row) { return row.param.name; });

TEST_F(AnthropicClientTest, EveryTransportFailureIsTheConnectionText) {
    const auto expected = ReviewError(LLMError::providerUnavailable(std::string(kUnreachable)));

    const auto refused =
        AnthropicClient("key", "m", "http://127.0.0.1:" + std::to_string(test::refusedPort())).complete("s", "u");
    EXPECT_EQ(refused.error(), expected);

    server.respond("POST", "/v1/messages", 200, std::string(9 * 1024 * 1024, ' '));
    EXPECT_EQ(client().complete("s", "u").error(), expected);

    server.neverAnswer("POST", "/v1/messages");
    std::stop_source stop;
    auto pending = std::async(std::launch::async, [&] { return client().complete("s", "u", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(2));
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop.request_stop();
    ASSERT_EQ(pending.wait_for(test::kPromptly), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, test::kPromptly);
    EXPECT_EQ(pending.get().error(), expected);
}

TEST_F(AnthropicClientTest, ListsEveryPageOfModelIdsUnsorted) {
    std::vector<std::string> expected;
    for (const char* name : {"anthropic-models-200-page1.json", "anthropic-models-200-page2.json"}) {
        const json page = json::parse(example(name));
        for (const auto& model : page["data"]) {
            expected.push_back(model["id"]);
        }
    }
    const std::string secondPage =
        "after_id=" + json::parse(example("anthropic-models-200-page1.json"))["last_id"].get<std::string>();
    server.respond("GET", "/v1/models", 200, example("anthropic-models-200-page1.json"));
    server.respond("GET", "/v1/models?" + secondPage, 200, example("anthropic-models-200-page2.json"));
    EXPECT_EQ(AnthropicClient::listModels("key", {}, server.baseUrl()), expected);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].query, "");
    EXPECT_EQ(requests[1].query, secondPage);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.header("x-api-key"), "key");
        EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
        EXPECT_FALSE(request.hasHeader("content-type"));
    }
}

TEST_F(AnthropicClientTest, PagingEndsAtABoundOrAStopRequest) {
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"a"}],"has_more":true,"last_id":"a"})");
    EXPECT_FALSE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
    EXPECT_LT(server.requests().size(), 100U);

    server.neverAnswer("GET", "/v1/models?after_id=a");
    const std::size_t before = server.requests().size();
    std::stop_source stop;
    auto pending = std::async(std::launch::async,
                              [&] { return AnthropicClient::listModels("key", stop.get_token(), server.baseUrl()); });
    ASSERT_TRUE(server.waitForRequests(before + 2));
    stop.request_stop();
    ASSERT_EQ(pending.wait_for(test::kPromptly), std::future_status::ready);
    EXPECT_TRUE(pending.get().empty()); // a partial list would pass for the whole one
}

TEST_F(AnthropicClientTest, ListingNeverFails) {
    EXPECT_TRUE(AnthropicClient::listModels("", {}, server.baseUrl()).empty());
    EXPECT_TRUE(server.requests().empty());

    server.respond("GET", "/v1/models", 401, example("anthropic-error-401.json"));
    EXPECT_TRUE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"a"},{"name":"no id"}]})");
    EXPECT_TRUE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
    server.respond("GET", "/v1/models", 200, "not json");
    EXPECT_TRUE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"a"}],"has_more":true})");
    EXPECT_TRUE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
}

} // namespace
} // namespace norik::core
