// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/AnthropicClient.h"

#include <chrono>

#include <iterator>
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
// Pages hold 20 ids by default, so this allows for far more models than any account has, while a server
// that always claims there is more cannot keep the listing going.
constexpr int kMaxModelPages = 50;

// The reply is the first block's text; every block must carry a text, as non-text blocks (tool use,
// thinking) mean the model did not answer the way the prompt asks.
std::expected<std::string, ReviewError> decodeReply(std::string_view body) {
    auto parsed = parseBody(body);
    if (!parsed) {
        return std::unexpected(parsed.error());
    }
    if (!parsed->is_object()) {
        return std::unexpected(missingMember("the top level", "\"content\" array"));
    }
    if (const auto stop = parsed->find("stop_reason"); stop != parsed->end() && *stop == "max_tokens") {
        return std::unexpected(LLMError::replyCutOff());
    }
    const auto content = parsed->find("content");
    if (content == parsed->end() || !content->is_array()) {
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
    if (isUnsendableKey(m_apiKey)) {
        return std::unexpected(LLMError::invalidAPIKey());
    }
    const json body = {
        {"model", m_model},
        {"max_tokens", replyTokenBudget(user)},
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
        return std::unexpected(cloudTransportFailure(response.error(), kUnreachable));
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
    net::HttpRequest request{
        .method = "GET",
        .url = {},
        .headers = {{"x-api-key", apiKey}, {"anthropic-version", std::string(kApiVersion)}},
        .body = {},
        .timeout = kTimeout,
    };
    const std::string firstPage = joinUrl(baseUrl, "/v1/models");
    std::vector<std::string> ids;
    std::string afterId;
    for (int page = 0; page < kMaxModelPages && !stop.stop_requested(); ++page) {
        request.url = afterId.empty() ? firstPage : firstPage + "?after_id=" + percentEncoded(afterId);
        const auto list = fetchObject(request, stop);
        auto names = list ? namesIn(*list, "data", "id") : std::nullopt;
        if (!names) {
            return {}; // a partial list would pass for the whole one
        }
        ids.insert(ids.end(), std::make_move_iterator(names->begin()), std::make_move_iterator(names->end()));
        const auto more = list->find("has_more");
        if (more == list->end() || *more != true) {
            return ids;
        }
        const auto last = list->find("last_id");
        if (last == list->end() || !last->is_string() || last->get<std::string>().empty()) {
            return {};
        }
        afterId = last->get<std::string>();
    }
    // Past the page bound the server is not making progress; what it named so far is all there is to show.
    return stop.stop_requested() ? std::vector<std::string>{} : ids;
}

} // namespace norik::core
