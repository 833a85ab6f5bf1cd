// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LocalClient.h"

#include <future>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/LoopbackServer.h"
#include "support/ProviderExamples.h"

namespace norik::core {
namespace {

using nlohmann::json;
using test::example;

class LocalClientTest : public testing::Test {
protected:
    test::LoopbackServer server;
};

TEST_F(LocalClientTest, SendsTheChatRequestWithTheSchemaAndReturnsTheContent) {
    server.respond("POST", "/api/chat", 200, example("ollama-chat-200-structured.json"));
    const auto reply = LocalClient(server.baseUrl() + "/", "llama3.2").complete("the system", "the user");
    ASSERT_TRUE(reply.has_value()) << reply.error().userMessage();
    EXPECT_EQ(*reply, json::parse(example("ollama-chat-200-structured.json"))["message"]["content"]);

    const auto request = server.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/chat"); // one trailing slash of the address removed
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_FALSE(request.hasHeader("authorization"));
    EXPECT_FALSE(request.hasHeader("x-api-key"));

    const json body = json::parse(request.body);
    EXPECT_EQ(body.size(), 5U);
    EXPECT_EQ(body["model"], "llama3.2");
    EXPECT_TRUE(body["stream"].is_boolean());
    EXPECT_EQ(body["stream"], false);
    EXPECT_EQ(body["options"].size(), 2U);
    EXPECT_TRUE(body["options"]["temperature"].is_number_float());
    EXPECT_DOUBLE_EQ(body["options"]["temperature"].get<double>(), 0.2);
    EXPECT_TRUE(body["options"]["num_ctx"].is_number_integer());
    EXPECT_EQ(body["messages"], json::parse(R"([{"role":"system","content":"the system"},
                                                {"role":"user","content":"the user"}])"));
    EXPECT_EQ(body["format"], json::parse(R"({
        "type": "object",
        "properties": {
            "language": {"type": "string"},
            "corrected": {"type": "string"},
            "improved": {"type": "string"},
            "issues": {"type": "array", "items": {
                "type": "object",
                "properties": {"excerpt": {"type": "string"}, "explanation": {"type": "string"},
                               "category": {"type": "string"}},
                "required": ["excerpt", "explanation", "category"]}},
            "score": {"type": "integer"}},
        "required": ["language", "corrected", "improved", "issues", "score"]})"));
}

TEST_F(LocalClientTest, TheContextHoldsThePromptAndTwoCopiesOfTheLongestText) {
    server.respond("POST", "/api/chat", 200, example("ollama-chat-200.json"));
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        text += "ж"; // a token or more each in some tokenizers
    }
    const std::string system(3000, 's');
    ASSERT_TRUE(LocalClient(server.baseUrl(), "m").complete(system, text).has_value());
    EXPECT_GE(json::parse(server.requests().back().body)["options"]["num_ctx"].get<int>(), 3000 / 4 + 3 * 4000);
}

TEST_F(LocalClientTest, AnAddressWithoutSchemeIsHttp) {
    server.respond("POST", "/api/chat", 200, example("ollama-chat-200.json"));
    server.respond("GET", "/api/tags", 200, example("ollama-tags-200.json"));
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_TRUE(LocalClient(address, "m").complete("s", "u").has_value());
    EXPECT_FALSE(OllamaService::listModels(address + "/").empty());
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST_F(LocalClientTest, ADoubledTrailingSlashKeepsOne) {
    server.respond("POST", "//api/chat", 200, example("ollama-chat-200.json"));
    ASSERT_TRUE(LocalClient(server.baseUrl() + "//", "m").complete("s", "u").has_value());
    EXPECT_EQ(server.requests().back().path, "//api/chat");
}

TEST_F(LocalClientTest, AnAddressThatIsNoUrlFailsWithoutARequest) {
    for (const char* endpoint : {"", "/", "localhost 11434", "ftp://127.0.0.1"}) {
        EXPECT_EQ(LocalClient(endpoint, "m").complete("s", "u").error(), ReviewError(LLMError::invalidResponse()))
            << endpoint;
        EXPECT_TRUE(OllamaService::listModels(endpoint).empty()) << endpoint;
    }
}

struct StatusCase {
    const char* name;
    int status;
    std::string body;
    LLMError expected;
};

class LocalStatusTest : public testing::TestWithParam<StatusCase> {};

std::string cutOffReply() {
    json body = json::parse(example("ollama-chat-200-structured.json"));
    body["done_reason"] = "length";
    return body.dump();
}

TEST_P(LocalStatusTest, ClassifiesTheStatus) {
    test::LoopbackServer server;
    server.respond("POST", "/api/chat", GetParam().status, GetParam().body);
    const auto reply = LocalClient(server.baseUrl(), "").complete("s", "u");
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error(), ReviewError(GetParam().expected)) << reply.error().userMessage();
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalStatusTest,
    testing::Values(StatusCase{"CutOffAtTheContextLimit", 200, cutOffReply(), LLMError::replyCutOff()},
                    StatusCase{"MissingModelNamesTheConfiguredOne", 404, example("ollama-chat-404.json"),
                               LLMError::modelNotFound("")},
                    StatusCase{"MissingModelOlderServers", 404, example("ollama-chat-404-pre-0.12.json"),
                               LLMError::modelNotFound("")},
                    StatusCase{"ServerErrorCarriesTheFlatMessage", 500, example("ollama-error-500.json"),
                               LLMError::apiError(500, test::exampleMessage("ollama-error-500.json"))},
                    StatusCase{"UnauthorizedIsAPlainApiError", 401, R"({"error":"unauthorized"})",
                               LLMError::apiError(401, "unauthorized")},
                    StatusCase{"TooManyRequestsIsAPlainApiError", 429, "", LLMError::apiError(429, std::nullopt)},
                    StatusCase{"NotAChatModel", 400, example("ollama-chat-400-not-chat.json"),
                               LLMError::apiError(400, test::exampleMessage("ollama-chat-400-not-chat.json"))}),
    [](const testing::TestParamInfo<StatusCase>& row) { return row.param.name; });

TEST_F(LocalClientTest, ExplainsTransportFailuresInItsOwnWords) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(test::refusedPort());
    EXPECT_EQ(LocalClient(refused + "/", "m").complete("s", "u").error(),
              ReviewError(LLMError::providerUnavailable("Ollama isn't reachable at " + refused +
                                                        ". Is it running? (run `ollama serve`)")));

    server.respond("POST", "/api/chat", 200, std::string(9 * 1024 * 1024, ' '));
    const auto tooLarge = LocalClient(server.baseUrl(), "m").complete("s", "u");
    ASSERT_FALSE(tooLarge.has_value());
    ASSERT_TRUE(std::holds_alternative<net::TransportError>(tooLarge.error().value()));
    EXPECT_EQ(std::get<net::TransportError>(tooLarge.error().value()).kind,
              net::TransportError::Kind::responseTooLarge);
}

TEST_F(LocalClientTest, ASilentServerTimesOutWithTheLoadingText) {
    server.neverAnswer("POST", "/api/chat");
    EXPECT_EQ(
        LocalClient(server.baseUrl(), "m", std::chrono::milliseconds{200}).complete("s", "u").error(),
        ReviewError(LLMError::providerUnavailable("The local model timed out - it may still be loading. Try again.")));
}

TEST_F(LocalClientTest, CancellationIsReportedAsCancellation) {
    server.neverAnswer("POST", "/api/chat");
    std::stop_source stop;
    auto pending = std::async(std::launch::async,
                              [&] { return LocalClient(server.baseUrl(), "m").complete("s", "u", stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    ASSERT_EQ(pending.wait_for(test::kPromptly), std::future_status::ready);
    const auto reply = pending.get();
    ASSERT_FALSE(reply.has_value());
    EXPECT_TRUE(reply.error().isCancellation());
    EXPECT_EQ(reply.error().userMessage(), "");
}

TEST_F(LocalClientTest, ListsInstalledModelsSortedAndNeverFails) {
    server.respond("GET", "/api/tags", 200, R"({"models":[{"name":"mistral:7b"},{"name":"llama3.2:latest"},
                                                          {"name":"codellama:13b","size":1}]})");
    EXPECT_EQ(OllamaService::listModels(server.baseUrl() + "/"),
              (std::vector<std::string>{"codellama:13b", "llama3.2:latest", "mistral:7b"}));
    EXPECT_EQ(server.requests().back().method, "GET");

    server.respond("GET", "/api/tags", 200, example("ollama-tags-200-empty.json"));
    EXPECT_TRUE(OllamaService::listModels(server.baseUrl()).empty());
    server.respond("GET", "/api/tags", 200, "garbage");
    EXPECT_TRUE(OllamaService::listModels(server.baseUrl()).empty());
    server.respond("GET", "/api/tags", 500, example("ollama-error-500.json"));
    EXPECT_TRUE(OllamaService::listModels(server.baseUrl()).empty());
    EXPECT_TRUE(OllamaService::listModels("http://127.0.0.1:" + std::to_string(test::refusedPort())).empty());
}

} // namespace
} // namespace norik::core
