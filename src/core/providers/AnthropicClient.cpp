// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/AnthropicClient.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "core/providers/LLMErrorBody.h"
#include "core/providers/ProviderRequest.h"

namespace norik::core {
namespace {

using nlohmann::json;
using namespace provider_request;

constexpr std::string_view kApiVersion = "2023-06-01";
constexpr std::chrono::seconds kTimeout{60};
constexpr std::string_view kUnreachable = "Couldn't reach the Anthropic API. Check your connection.";

// The reply is the first block's text; every block must carry a text, as non-text blocks (tool use,
// thinking) mean the model did not answer the way the prompt asks.
std::expected<std::string, ReviewError> decodeReply(std::string_view body) {
    auto parsed = parseBody(body);
    if (!parsed) {
        return std::unexpected(parsed.error());
    }
    const auto content = parsed->find("content");
    if (!parsed->is_object() || content == parsed->end() || !content->is_array()) {
        return std::unexpected(missingMember("the top level", "\"content\" array"));
    }
    for (std::size_t index = 0; index < content->size(); ++index) {
        const json& block = (*content)[index];
        const auto text = block.is_object() ? block.find("text") : block.end();
        if (!block.is_object() || text == block.end() || !text->is_string()) {
            return std::unexpected(missingMember("content[" + std::to_string(index) + "]", "\"text\" string"));
        }
    }
    return content->empty() ? std::string() : content->front().at("text").get<std::string>();
}

} // namespace

std::string AnthropicClient::defaultBaseUrl() {
    return baseUrlFromEnvironment("NORIK_ANTHROPIC_BASE_URL", "https://api.anthropic.com");
}

AnthropicClient::AnthropicClient(std::string apiKey, std::string model, std::string baseUrl)
    : m_apiKey(std::move(apiKey)), m_model(std::move(model)), m_baseUrl(std::move(baseUrl)) {}

std::expected<std::string, ReviewError> AnthropicClient::complete(const std::string& system, const std::string& user,
                                                                  std::stop_token stop) const {
    if (m_apiKey.empty()) {
        return std::unexpected(LLMError::missingAPIKey());
    }
    const json body = {
        {"model", m_model},
        {"max_tokens", 1024},
        {"temperature", 0.2},
        {"system", system},
        {"messages", json::array({{{"role", "user"}, {"content", user}}})},
    };
    net::HttpRequest request{
        .method = "POST",
        .url = joinUrl(m_baseUrl, "/v1/messages"),
        .headers = {{"Content-Type", "application/json"},
                    {"x-api-key", m_apiKey},
                    {"anthropic-version", std::string(kApiVersion)}},
        .body = serialize(body),
        .timeout = kTimeout,
    };
    const auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response) {
        return std::unexpected(LLMError::providerUnavailable(std::string(kUnreachable)));
    }
    switch (response->status) {
    case 200:
        return decodeReply(response->body);
    case 429:
        return std::unexpected(LLMError::rateLimited(LLMErrorBody::message(response->body)));
    case 401:
        return std::unexpected(LLMError::invalidAPIKey());
    default:
        return std::unexpected(LLMError::apiError(response->status, LLMErrorBody::message(response->body)));
    }
}

std::vector<std::string> AnthropicClient::listModels(const std::string& apiKey, std::stop_token stop,
                                                     const std::string& baseUrl) {
    if (apiKey.empty()) {
        return {};
    }
    const net::HttpRequest request{
        .method = "GET",
        .url = joinUrl(baseUrl, "/v1/models"),
        .headers = {{"x-api-key", apiKey}, {"anthropic-version", std::string(kApiVersion)}},
        .body = {},
        .timeout = kTimeout,
    };
    return fetchListing(request, std::move(stop), "data", "id");
}

} // namespace norik::core
