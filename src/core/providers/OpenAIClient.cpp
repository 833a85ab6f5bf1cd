// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/OpenAIClient.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <span>

#include <nlohmann/json.hpp>

#include "core/providers/LLMErrorBody.h"
#include "core/providers/ProviderRequest.h"

namespace norik::core {
namespace {

using nlohmann::json;
using namespace provider_request;

constexpr std::chrono::seconds kTimeout{60};
constexpr std::string_view kUnreachable = "Couldn't reach the OpenAI API. Check your connection.";
constexpr std::array<std::string_view, 5> kChatPrefixes{"gpt-", "chatgpt", "o1", "o3", "o4"};
constexpr std::array<std::string_view, 10> kNonChatWords{"image",      "audio",    "tts",        "whisper", "embedding",
                                                         "moderation", "realtime", "transcribe", "search",  "instruct"};
constexpr std::array<std::string_view, 4> kReasoningPrefixes{"o1", "o3", "o4", "gpt-5"};

// Every choice must carry a message with a string content: a null content is a refusal or a tool
// call, neither of which is an answer to the prompt.
std::expected<std::string, ReviewError> decodeReply(std::string_view body) {
    auto parsed = parseBody(body);
    if (!parsed) {
        return std::unexpected(parsed.error());
    }
    const auto choices = parsed->is_object() ? parsed->find("choices") : parsed->end();
    if (choices == parsed->end() || !choices->is_array()) {
        return std::unexpected(missingMember("the top level", "\"choices\" array"));
    }
    if (!choices->empty() && choices->front().is_object()) {
        const auto finish = choices->front().find("finish_reason");
        if (finish != choices->front().end() && *finish == "length") {
            return std::unexpected(LLMError::replyCutOff());
        }
    }
    for (std::size_t index = 0; index < choices->size(); ++index) {
        const nlohmann::json& choice = (*choices)[index];
        const std::string path = "choices[" + std::to_string(index) + "]";
        const auto message = choice.is_object() ? choice.find("message") : choice.end();
        if (message == choice.end() || !message->is_object()) {
            return std::unexpected(missingMember(path, "\"message\" object"));
        }
        const auto content = message->find("content");
        if (content == message->end() || !content->is_string()) {
            return std::unexpected(missingMember(path + ".message", "\"content\" string"));
        }
    }
    return choices->empty() ? std::string() : choices->front().at("message").at("content").get<std::string>();
}

bool startsWithAny(std::string_view id, std::span<const std::string_view> prefixes) {
    return std::ranges::any_of(prefixes, [id](std::string_view prefix) { return id.starts_with(prefix); });
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "gpt-5-pro-2025-10-06" is a snapshot of "gpt-5-pro": without its date it is the model's own id.
std::string_view withoutSnapshotDate(std::string_view id) {
    constexpr std::string_view kShape = "-0000-00-00";
    if (id.size() <= kShape.size()) {
        return id;
    }
    const std::string_view tail = id.substr(id.size() - kShape.size());
    for (std::size_t index = 0; index < kShape.size(); ++index) {
        if ((kShape[index] == '-') != (tail[index] == '-') || (kShape[index] == '0' && !isDigit(tail[index]))) {
            return id;
        }
    }
    return id.substr(0, id.size() - kShape.size());
}

// Chat Completions answers these with 404: they are served by the Responses API only.
bool isResponsesOnlyId(std::string_view id) {
    return withoutSnapshotDate(id).ends_with("-pro") || id.find("codex") != std::string_view::npos;
}

// A fine-tuned model, "ft:<base>:<organisation>:<suffix>:<id>", is judged by the model it was tuned from.
std::string_view baseModelId(std::string_view id) {
    constexpr std::string_view kFineTuned = "ft:";
    if (!id.starts_with(kFineTuned)) {
        return id;
    }
    const std::string_view rest = id.substr(kFineTuned.size());
    return rest.substr(0, rest.find(':'));
}

} // namespace

std::string OpenAIClient::defaultBaseUrl() {
    return baseUrlFromEnvironment("NORIK_OPENAI_BASE_URL", "https://api.openai.com/v1");
}

OpenAIClient::OpenAIClient(std::string apiKey, std::string model, std::string baseUrl)
    : m_apiKey(std::move(apiKey)), m_model(std::move(model)), m_baseUrl(std::move(baseUrl)) {}

bool OpenAIClient::isChatModelId(std::string_view id) {
    const std::string_view base = baseModelId(id);
    return startsWithAny(base, kChatPrefixes) && !isResponsesOnlyId(base) &&
           std::ranges::none_of(kNonChatWords, [base](std::string_view word) { return base.find(word) != base.npos; });
}

bool OpenAIClient::isReasoningModelId(std::string_view id) {
    return startsWithAny(baseModelId(id), kReasoningPrefixes);
}

std::expected<std::string, ReviewError> OpenAIClient::complete(const std::string& system, const std::string& user,
                                                               std::stop_token stop) const {
    if (m_apiKey.empty()) {
        return std::unexpected(LLMError::missingAPIKey());
    }
    if (isUnsendableKey(m_apiKey)) {
        return std::unexpected(LLMError::invalidAPIKey());
    }
    json body = {
        {"model", m_model},
        {"response_format", {{"type", "json_object"}}},
        {"messages", json::array({{{"role", "system"}, {"content", system}}, {{"role", "user"}, {"content", user}}})},
    };
    if (!isReasoningModelId(m_model)) {
        body["temperature"] = 0.2;
    }
    const net::HttpRequest request{
        .method = "POST",
        .url = joinUrl(m_baseUrl, "/chat/completions"),
        .headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + m_apiKey}},
        .body = serialize(body),
        .timeout = kTimeout,
    };
    const auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response) {
        return std::unexpected(cloudTransportFailure(response.error(), kUnreachable));
    }
    switch (response->status) {
    case 200:
        return decodeReply(response->body);
    case 404:
        return std::unexpected(LLMError::modelNotFound(m_model));
    case 401:
        return std::unexpected(LLMError::invalidAPIKey());
    case 429:
        return std::unexpected(LLMError::rateLimited(LLMErrorBody::message(response->body)));
    default:
        return std::unexpected(LLMError::apiError(response->status, LLMErrorBody::message(response->body)));
    }
}

std::vector<std::string> OpenAIClient::listModels(const std::string& apiKey, std::stop_token stop,
                                                  const std::string& baseUrl) {
    if (apiKey.empty()) {
        return {};
    }
    const net::HttpRequest request{
        .method = "GET",
        .url = joinUrl(baseUrl, "/models"),
        .headers = {{"Authorization", "Bearer " + apiKey}},
        .body = {},
        .timeout = kTimeout,
    };
    std::vector<std::string> ids = fetchListing(request, std::move(stop), "data", "id");
    std::erase_if(ids, [](const std::string& id) { return !isChatModelId(id); });
    std::ranges::sort(ids);
    return ids;
}

} // namespace norik::core
