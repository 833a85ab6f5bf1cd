// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/OpenAIClient.h"

#include <future>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"

namespace norik::core {
namespace {

using nlohmann::json;
using test::example;
using test::exampleMessage;

constexpr std::string_view kUnreachable = "Couldn't reach the OpenAI API. Check your connection.";

class OpenAIClientTest : public testing::Test {
protected:
    OpenAIClient client(std::string model = "gpt-4o-mini", std::string key = "sk-test") const {
        return {std::move(key), std::move(model), server.baseUrl() + "/v1/"};
    }
    json sentBody() const { return json::parse(server.requests().back().body); }
    test::LoopbackServer server;
};

TEST_F(OpenAIClientTest, SendsTheChatRequestAndReturnsTheFirstChoice) {
    server.respond("POST", "/v1/chat/completions", 200, example("openai-chat-200-json-content.json"));
    const auto reply = client().complete("system prompt", "user message");
    ASSERT_TRUE(reply.has_value()) << reply.error().userMessage();
    EXPECT_EQ(*reply, json::parse(example("openai-chat-200-json-content.json"))["choices"][0]["message"]["content"]);

    const auto request = server.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/chat/completions");
    EXPECT_EQ(request.header("authorization"), "Bearer sk-test");
    EXPECT_EQ(request.header("content-type"), "application/json");

    const json body = sentBody();
    EXPECT_EQ(body.size(), 4U);
    EXPECT_EQ(body["model"], "gpt-4o-mini");
    EXPECT_TRUE(body["temperature"].is_number_float());
    EXPECT_DOUBLE_EQ(body["temperature"].get<double>(), 0.2);
    EXPECT_EQ(body["response_format"], json::parse(R"({"type":"json_object"})"));
    EXPECT_EQ(body["messages"], json::parse(R"([{"role":"system","content":"system prompt"},
                                                {"role":"user","content":"user message"}])"));
    EXPECT_FALSE(body.contains("max_tokens"));
}

TEST_F(OpenAIClientTest, ReasoningModelsGetNoTemperature) {
    server.respond("POST", "/v1/chat/completions", 200, example("openai-chat-200.json"));
    for (const char* model : {"o1", "o3-mini", "o4-mini", "gpt-5", "gpt-5-mini", "ft:o4-mini:org::abc"}) {
        ASSERT_TRUE(client(model).complete("s", "u").has_value()) << model;
        EXPECT_FALSE(sentBody().contains("temperature")) << model;
        EXPECT_EQ(sentBody().size(), 3U) << model;
    }
    for (const char* model : {"gpt-4o", "gpt-4.1-mini", "chatgpt-4o-latest", "llama3"}) {
        ASSERT_TRUE(client(model).complete("s", "u").has_value()) << model;
        EXPECT_TRUE(sentBody().contains("temperature")) << model;
    }
}

TEST_F(OpenAIClientTest, DecodesTheSuccessBodies) {
    server.respond("POST", "/v1/chat/completions", 200, R"({"choices":[]})");
    EXPECT_EQ(client().complete("s", "u").value(), "");

    for (const char* name : {"openai-chat-200-null-content.json", "openai-chat-200-refusal-docs.json",
                             "openai-chat-200-tool-calls.json"}) {
        server.respond("POST", "/v1/chat/completions", 200, example(name));
        const auto reply = client().complete("s", "u");
        ASSERT_FALSE(reply.has_value()) << name;
        EXPECT_TRUE(test::isDecodingError(reply.error())) << name;
    }
}

TEST_F(OpenAIClientTest, EmptyKeySendsNothingAndAKeyWithALineBreakIsRejectedUnsent) {
    EXPECT_EQ(client("gpt-4o", "").complete("s", "u").error(), ReviewError(LLMError::missingAPIKey()));
    EXPECT_EQ(client("gpt-4o", "sk-pasted\r\n").complete("s", "u").error(), ReviewError(LLMError::invalidAPIKey()));
    EXPECT_TRUE(server.requests().empty());
}

struct StatusCase {
    const char* name;
    int status;
    std::string body;
    LLMError expected;
};

class OpenAIStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(OpenAIStatusTest, ClassifiesTheStatus) {
    test::LoopbackServer server;
    server.respond("POST", "/chat/completions", GetParam().status, GetParam().body);
    const auto reply = OpenAIClient("key", "gpt-4o", server.baseUrl()).complete("s", "u");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), ReviewError(GetParam().expected)) << reply.error().userMessage();
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenAIStatusTest,
    testing::Values(StatusCase{"CutOffAtTheTokenLimit", 200, example("openai-chat-200-length.json"),
                               LLMError::replyCutOff()},
                    StatusCase{"Unauthorized", 401, example("openai-error-401.json"), LLMError::invalidAPIKey()},
                    StatusCase{"UnknownModelNamesTheConfiguredModel", 404, example("openai-error-404-model.json"),
                               LLMError::modelNotFound("gpt-4o")},
                    StatusCase{"ResponsesOnlyModel", 404, example("openai-error-404-responses-only.json"),
                               LLMError::modelNotFound("gpt-4o")},
                    StatusCase{"RateLimit", 429, example("openai-error-429-rate-limit.json"),
                               LLMError::rateLimited(exampleMessage("openai-error-429-rate-limit.json"))},
                    StatusCase{"InsufficientQuota", 429, example("openai-error-429-insufficient-quota.json"),
                               LLMError::rateLimited(exampleMessage("openai-error-429-insufficient-quota.json"))},
                    StatusCase{"RateLimitWithoutBody", 429, "", LLMError::rateLimited(std::nullopt)},
                    StatusCase{"BadRequest", 400, example("openai-error-400-temperature.json"),
                               LLMError::apiError(400, exampleMessage("openai-error-400-temperature.json"))},
                    StatusCase{"ServerErrorWithoutMessage", 502, R"({"error":{"code":502}})",
                               LLMError::apiError(502, std::nullopt)}),
    [](const testing::TestParamInfo<StatusCase>& row) { return row.param.name; });

TEST_F(OpenAIClientTest, EveryTransportFailureIsTheConnectionText) {
    const auto expected = ReviewError(LLMError::providerUnavailable(std::string(kUnreachable)));
    EXPECT_EQ(
        OpenAIClient("k", "m", "http://127.0.0.1:" + std::to_string(test::refusedPort())).complete("s", "u").error(),
        expected);

    server.neverAnswer("POST", "/v1/chat/completions");
    std::stop_source stop;
    auto pending = std::async(std::launch::async, [&] { return client().complete("s", "u", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    ASSERT_EQ(pending.wait_for(test::kPromptly), std::future_status::ready);
    EXPECT_EQ(pending.get().error(), expected);
}

TEST_F(OpenAIClientTest, ListsChatModelsFilteredAndSorted) {
    server.respond("GET", "/v1/models", 200, example("openai-models-200.json"));
    const auto listed = OpenAIClient::listModels("key", {}, server.baseUrl() + "/v1");
    // The fixture keeps what the word filter keeps; Responses-only ids go, the account's fine-tuned model stays.
    const json expected = json::parse(example("openai-models-200.filter-expected.json"));
    auto expectedIds = expected.at("kept").get<std::vector<std::string>>();
    const auto responsesOnly = expected.at("kept_but_responses_only").get<std::vector<std::string>>();
    std::erase_if(expectedIds, [&](const std::string& id) { return std::ranges::count(responsesOnly, id) > 0; });
    expectedIds.emplace_back("ft:gpt-4o-mini:acemeco:suffix:abc123");
    std::ranges::sort(expectedIds);
    EXPECT_EQ(listed, expectedIds);
    EXPECT_TRUE(std::ranges::is_sorted(listed));
    EXPECT_EQ(server.requests().back().header("authorization"), "Bearer key");
    EXPECT_FALSE(server.requests().back().hasHeader("content-type"));
}

TEST(OpenAIModelFilterTest, KeepsChatModelsAndTheirFineTunesButNotResponsesOnlyOnes) {
    for (const char* id : {"gpt-4o", "chatgpt-4o-latest", "o1", "o3-mini", "o4-mini", "gpt-5", "gpt-5-2025-08-07",
                           "ft:gpt-4.1:org:search-helper:id1"}) {
        EXPECT_TRUE(OpenAIClient::isChatModelId(id)) << id;
    }
    for (const char* id :
         {"GPT-4o", "davinci-002", "text-embedding-3-small", "gpt-4o-audio-preview", "gpt-4o-realtime-preview",
          "gpt-4o-search-preview", "o1-instruct", "gpt-image-1", "gpt-4o-mini-tts", "gpt-4o-transcribe",
          "omni-moderation-latest", "whisper-1", "o3-pro", "gpt-5-pro-2025-10-06", "gpt-5.1-codex-mini",
          "ft:whisper-1:org::id2", "ft:o1-pro:org::id3"}) {
        EXPECT_FALSE(OpenAIClient::isChatModelId(id)) << id;
    }
}

TEST_F(OpenAIClientTest, ListingNeverFails) {
    EXPECT_TRUE(OpenAIClient::listModels("", {}, server.baseUrl()).empty());
    EXPECT_TRUE(server.requests().empty());
    server.respond("GET", "/models", 500, "{}");
    EXPECT_TRUE(OpenAIClient::listModels("key", {}, server.baseUrl()).empty());
    server.respond("GET", "/models", 200, R"({"object":"list"})");
    EXPECT_TRUE(OpenAIClient::listModels("key", {}, server.baseUrl()).empty());
}

} // namespace
} // namespace norik::core
