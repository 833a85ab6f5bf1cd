// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/providers/AnthropicClient.h"
#include "core/providers/LLMErrorBody.h"
#include "core/providers/LocalClient.h"
#include "core/providers/OpenAIClient.h"
#include "core/providers/ProviderCatalogue.h"

#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"

namespace norik::core {
namespace {

using nlohmann::json;
using namespace test;

// What differs between the three services, so that every shared behaviour is one parameterised test.
struct Provider {
    const char* name;
    LLMProvider id;
    std::string model;
    std::string apiPrefix; // between the server's address and the paths below
    std::string chatPath;
    std::string listPath;
    std::string reply;     // the recorded successful chat answer's file
    std::string keyHeader; // empty: the key is never sent

    // The local server's address is its endpoint; a cloud service's replaces its public one.
    [[nodiscard]] std::unique_ptr<LLMClient> client(const std::string& base, const std::string& key) const {
        return id == LLMProvider::local ? makeClient(id, key, model, base) : makeClient(id, key, model, "", base);
    }
    [[nodiscard]] std::vector<std::string> list(const std::string& base, const std::string& key) const {
        return id == LLMProvider::local ? listModels(id, key, base, {}) : listModels(id, key, "", {}, base);
    }
};

const Provider kAnthropic{"Anthropic",    LLMProvider::anthropic, "claude-haiku-4-5-20251001",   "",
                          "/v1/messages", "/v1/models",           "anthropic-messages-200.json", "x-api-key"};
const Provider kOpenAI{"OpenAI",     LLMProvider::openAI,    "gpt-4o",       "/v1", "/v1/chat/completions",
                       "/v1/models", "openai-chat-200.json", "authorization"};
const Provider kLocal{"Local", LLMProvider::local, "", "", "/api/chat", "/api/tags", "ollama-chat-200.json", ""};

class ProviderTest : public testing::TestWithParam<const Provider*> {
protected:
    [[nodiscard]] const Provider& provider() const { return *GetParam(); }
    [[nodiscard]] std::string base() const { return server.baseUrl() + provider().apiPrefix; }
    [[nodiscard]] std::unique_ptr<LLMClient> client(const std::string& key = "sk-secret-key") const {
        return provider().client(base(), key);
    }

    test::LoopbackServer server;
};

TEST_P(ProviderTest, TheKeyGoesOnlyInItsOwnHeaderAndNeverUnsafelyOrEmpty) {
    server.respond("POST", provider().chatPath, 200, example(provider().reply));
    server.respond("GET", provider().listPath, 200, "not json");
    ASSERT_TRUE(client()->complete("s", "u").has_value());
    EXPECT_TRUE(provider().list(base(), "sk-secret-key").empty()) << "a listing never fails: it comes back empty";
    for (const auto& request : server.requests()) {
        for (const auto& [name, value] : request.headers) {
            EXPECT_EQ(value.find("sk-secret-key") != std::string::npos, name == provider().keyHeader)
                << request.path << ": " << name;
        }
        EXPECT_EQ(request.body.find("sk-secret-key"), std::string::npos) << request.path;
    }
    if (provider().keyHeader.empty()) {
        return;
    }
    const std::size_t sent = server.requests().size();
    EXPECT_EQ(client("")->complete("s", "u").error(), ReviewError(LLMError::missingAPIKey()));
    EXPECT_EQ(client("sk-pasted\r\n")->complete("s", "u").error(), ReviewError(LLMError::invalidAPIKey()));
    EXPECT_TRUE(provider().list(base(), "").empty());
    EXPECT_EQ(server.requests().size(), sent);
}

TEST_P(ProviderTest, ARefusedConnectionOrAStopEndsTheReviewOrListingWithoutASuccess) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(test::refusedPort()) + provider().apiPrefix;
    const auto unreachable = provider().client(refused, "key")->complete("s", "u");
    ASSERT_FALSE(unreachable.has_value());
    EXPECT_TRUE(unreachable.error().llmError() && unreachable.error().llmError()->is<LLMError::ProviderUnavailable>());
    EXPECT_TRUE(provider().list(refused, "key").empty());

    server.neverAnswer("POST", provider().chatPath);
    std::stop_source stop;
    auto pending = std::async(std::launch::async, [&] { return client()->complete("s", "u", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    EXPECT_FALSE(pending.get().has_value());
}

INSTANTIATE_TEST_SUITE_P(Providers, ProviderTest, testing::Values(&kAnthropic, &kOpenAI, &kLocal),
                         [](const auto& row) { return std::string(row.param->name); });

struct StatusCase {
    const char* name;
    const Provider* provider;
    int status;
    std::string body;
    LLMError expected;
};

class ProviderStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(ProviderStatusTest, ClassifiesTheAnswer) {
    const StatusCase& row = GetParam();
    test::LoopbackServer server;
    server.respond("POST", row.provider->chatPath, row.status, row.body);
    const auto reply = row.provider->client(server.baseUrl() + row.provider->apiPrefix, "key")->complete("s", "u");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), ReviewError(row.expected)) << reply.error().userMessage();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProviderStatusTest,
    testing::Values(
        StatusCase{"AnthropicCutOff", &kAnthropic, 200,
                   exampleWith("anthropic-messages-200.json", "/stop_reason", "max_tokens"), LLMError::replyCutOff()},
        StatusCase{"AnthropicUnknownModelIsAnApiError", &kAnthropic, 404, example("anthropic-error-404-model.json"),
                   LLMError::apiError(404, exampleMessage("anthropic-error-404-model.json"))},
        StatusCase{"AnthropicRateLimited", &kAnthropic, 429, example("anthropic-error-429.json"),
                   LLMError::rateLimited(exampleMessage("anthropic-error-429.json"))},
        StatusCase{"AnthropicOverloaded", &kAnthropic, 529, example("anthropic-error-529.json"),
                   LLMError::apiError(529, "Overloaded")},
        StatusCase{"OpenAICutOff", &kOpenAI, 200, example("openai-chat-200-length.json"), LLMError::replyCutOff()},
        StatusCase{"OpenAIUnauthorized", &kOpenAI, 401, example("openai-error-401.json"), LLMError::invalidAPIKey()},
        StatusCase{"OpenAIUnknownModelNamesTheConfiguredOne", &kOpenAI, 404, example("openai-error-404-model.json"),
                   LLMError::modelNotFound("gpt-4o")},
        StatusCase{"OpenAIResponsesOnlyModel", &kOpenAI, 404, example("openai-error-404-responses-only.json"),
                   LLMError::modelNotFound("gpt-4o")},
        StatusCase{"OpenAIOutOfQuota", &kOpenAI, 429, example("openai-error-429-insufficient-quota.json"),
                   LLMError::rateLimited(exampleMessage("openai-error-429-insufficient-quota.json"))},
        StatusCase{"OpenAIBadRequest", &kOpenAI, 400, example("openai-error-400-temperature.json"),
                   LLMError::apiError(400, exampleMessage("openai-error-400-temperature.json"))},
        StatusCase{"LocalCutOff", &kLocal, 200,
                   exampleWith("ollama-chat-200-structured.json", "/done_reason", "length"), LLMError::replyCutOff()},
        StatusCase{"LocalMissingModel", &kLocal, 404, example("ollama-chat-404.json"), LLMError::modelNotFound("")},
        StatusCase{"LocalMissingModelOlderServers", &kLocal, 404, example("ollama-chat-404-pre-0.12.json"),
                   LLMError::modelNotFound("")},
        StatusCase{"LocalServerErrorCarriesTheFlatMessage", &kLocal, 500, example("ollama-error-500.json"),
                   LLMError::apiError(500, exampleMessage("ollama-error-500.json"))},
        StatusCase{"LocalTooManyRequestsIsAPlainApiError", &kLocal, 429, "", LLMError::apiError(429, std::nullopt)}),
    [](const testing::TestParamInfo<StatusCase>& row) { return std::string(row.param.name); });

// A text as long as Norik accepts, in a script that costs a token or more a character.
const std::string kLongestText = tests::repeated("ж", 4000);

class ProviderRequestTest : public testing::Test {
protected:
    [[nodiscard]] json sentBody() const { return json::parse(server.requests().back().body); }

    test::LoopbackServer server;
};

TEST_F(ProviderRequestTest, AnthropicSendsTheMessagesRequestWithRoomForTheLongestText) {
    server.respond("POST", "/v1/messages", 200, example("anthropic-messages-200.json"));
    const auto reply = kAnthropic.client(server.baseUrl(), "k")->complete("You are a tutor.", "Hi");
    ASSERT_TRUE(reply.has_value()) << reply.error().userMessage();
    EXPECT_EQ(server.requests().back().header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(sentBody(), json::parse(R"({"model": "claude-haiku-4-5-20251001", "max_tokens": 4096,
        "temperature": 0.2, "system": "You are a tutor.", "messages": [{"role": "user", "content": "Hi"}]})"));

    ASSERT_TRUE(kAnthropic.client(server.baseUrl(), "k")->complete("s", kLongestText).has_value());
    EXPECT_GE(sentBody()["max_tokens"].get<int>(), 2 * 4000);
}

TEST_F(ProviderRequestTest, AnthropicReadsTheFirstTextBlockAndRepliesWithoutTextAreDecodingErrors) {
    server.respond("POST", "/v1/messages", 200, R"({"content":[{"type":"text","text":"first"},{"text":"second"}]})");
    EXPECT_EQ(kAnthropic.client(server.baseUrl(), "k")->complete("s", "u").value(), "first");
    for (const auto& [provider, name] : std::initializer_list<std::pair<const Provider*, const char*>>{
             {&kAnthropic, "anthropic-messages-200-thinking.json"},
             {&kAnthropic, "anthropic-messages-200-tool-use.json"},
             {&kOpenAI, "openai-chat-200-null-content.json"},
             {&kOpenAI, "openai-chat-200-refusal-docs.json"},
             {&kOpenAI, "openai-chat-200-tool-calls.json"}}) {
        server.respond("POST", provider->chatPath, 200, example(name));
        const auto reply = provider->client(server.baseUrl() + provider->apiPrefix, "k")->complete("s", "u");
        ASSERT_FALSE(reply.has_value()) << name;
        EXPECT_TRUE(std::holds_alternative<DecodingError>(reply.error().value())) << name;
    }
}

TEST_F(ProviderRequestTest, AnthropicListsEveryPageUntilTheEndOrABound) {
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

    // A page that says there is more without saying where is not the whole list.
    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"a"}],"has_more":true})");
    EXPECT_TRUE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());

    server.respond("GET", "/v1/models", 200, R"({"data":[{"id":"a"}],"has_more":true,"last_id":"a"})");
    EXPECT_FALSE(AnthropicClient::listModels("key", {}, server.baseUrl()).empty());
    EXPECT_LT(server.requests().size(), 100U) << "a server that always has more is asked a bounded number of times";
}

TEST_F(ProviderRequestTest, OpenAISendsJsonModeAndTemperatureOnlyWhereTheModelTakesIt) {
    server.respond("POST", "/v1/chat/completions", 200, example("openai-chat-200-json-content.json"));
    const auto send = [&](const char* model) {
        EXPECT_TRUE(OpenAIClient("k", model, server.baseUrl() + "/v1/").complete("system", "user").has_value());
        return sentBody();
    };
    EXPECT_EQ(send("gpt-4o-mini"), json::parse(R"({"model": "gpt-4o-mini", "temperature": 0.2,
        "response_format": {"type": "json_object"}, "messages": [{"role": "system", "content": "system"},
        {"role": "user", "content": "user"}]})"));
    for (const char* model : {"o1", "o4-mini", "gpt-5-mini", "ft:o4-mini:org::abc"}) {
        EXPECT_FALSE(send(model).contains("temperature")) << model;
    }
}

TEST_F(ProviderRequestTest, OpenAIListsChatModelsSortedWithFineTunesButNoResponsesOnlyOnes) {
    server.respond("GET", "/v1/models", 200, example("openai-models-200.json"));
    const json expected = json::parse(example("openai-models-200.filter-expected.json"));
    auto expectedIds = expected.at("kept").get<std::vector<std::string>>();
    const auto responsesOnly = expected.at("kept_but_responses_only").get<std::vector<std::string>>();
    std::erase_if(expectedIds, [&](const std::string& id) { return std::ranges::count(responsesOnly, id) > 0; });
    expectedIds.emplace_back("ft:gpt-4o-mini:acemeco:suffix:abc123");
    std::ranges::sort(expectedIds);
    EXPECT_EQ(OpenAIClient::listModels("key", {}, server.baseUrl() + "/v1"), expectedIds);
}

TEST_F(ProviderRequestTest, LocalSendsASchemaAndAContextThatHoldsTheLongestText) {
    server.respond("POST", "/api/chat", 200, example("ollama-chat-200-structured.json"));
    const auto reply = LocalClient(server.baseUrl() + "/", "llama3.2").complete("the system", "the user");
    ASSERT_TRUE(reply.has_value()) << reply.error().userMessage();
    EXPECT_EQ(server.requests().back().path, "/api/chat") << "one trailing slash of the address removed";
    const json body = sentBody();
    EXPECT_EQ(body["stream"], false);
    EXPECT_TRUE(body["format"].is_object()) << "the reply's schema goes with the request";

    const std::string system(3000, 's');
    ASSERT_TRUE(LocalClient(server.baseUrl(), "m").complete(system, kLongestText).has_value());
    EXPECT_GE(sentBody()["options"]["num_ctx"].get<int>(), 3000 / 4 + 3 * 4000);
}

TEST_F(ProviderRequestTest, LocalAddressesWithoutSchemeAreHttpOthersAreRefusedUnsentAndASilentServerTimesOut) {
    server.respond("POST", "/api/chat", 200, example("ollama-chat-200.json"));
    server.respond("GET", "/api/tags", 200, example("ollama-tags-200.json"));
    const std::string address = server.baseUrl().substr(std::string_view("http://").size());
    EXPECT_TRUE(LocalClient(address, "m").complete("s", "u").has_value());
    EXPECT_FALSE(OllamaService::listModels(address + "/").empty());
    for (const char* endpoint : {"", "localhost 11434", "ftp://127.0.0.1"}) {
        EXPECT_EQ(LocalClient(endpoint, "m").complete("s", "u").error(), ReviewError(LLMError::invalidResponse()))
            << endpoint;
        EXPECT_TRUE(OllamaService::listModels(endpoint).empty()) << endpoint;
    }
    EXPECT_EQ(server.requests().size(), 2U);

    server.neverAnswer("POST", "/api/chat");
    const auto silent = LocalClient(server.baseUrl(), "m", std::chrono::milliseconds{200}).complete("s", "u");
    ASSERT_FALSE(silent.has_value());
    EXPECT_TRUE(silent.error().llmError() && silent.error().llmError()->is<LLMError::ProviderUnavailable>());
}

// The nested and the flat message are the status table's; here, bodies that carry none.
TEST(LLMErrorTest, AProvidersOwnMessageIsShownUnlessItIsEmptyOrAbsent) {
    EXPECT_EQ(LLMError::rateLimited("slow down").userMessage(), "slow down");
    EXPECT_EQ(LLMError::rateLimited("").userMessage(), LLMError::rateLimited(std::nullopt).userMessage());
    EXPECT_EQ(LLMError::apiError(500, "").userMessage(), LLMError::apiError(500, std::nullopt).userMessage());
    for (const char* body : {R"({"error":{"type":"no message"}})", "", "<html>502</html>", R"({"error":{"message":5}})",
                             R"({"message":"top level"})", R"(["error"])", "{\"error\":\"\xff\"}"}) {
        EXPECT_FALSE(LLMErrorBody::message(body).has_value()) << body;
    }
}

} // namespace
} // namespace norik::core
