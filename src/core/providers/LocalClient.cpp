// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LocalClient.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "core/providers/LLMErrorBody.h"
#include "core/providers/ProviderRequest.h"

namespace norik::core {
namespace {

using nlohmann::json;
using namespace provider_request;

// Without one trailing slash, and with "http://" in front when no scheme is given: people write the
// server's address the way Ollama prints it, "localhost:11434".
std::string normalizedBase(std::string_view endpoint) {
    if (endpoint.ends_with('/')) {
        endpoint.remove_suffix(1);
    }
    if (endpoint.empty() || endpoint.find("://") != std::string_view::npos) {
        return std::string(endpoint);
    }
    return "http://" + std::string(endpoint);
}

// Ollama's context window by default holds 2048 to 4096 tokens and drops the start of a longer prompt
// without an error. The window is sized for the prompt and the longest reply, at most half a token per
// byte of the prompt (see replyTokenBudget), and rounded up to a power of two: a window that differs
// from the loaded model's makes the server load the model again, so few sizes are better than exact ones.
constexpr std::int64_t kMinContextTokens = 8192;
constexpr std::int64_t kMaxContextTokens = 65536;

std::int64_t contextTokens(std::string_view system, std::string_view user) {
    const auto prompt = static_cast<std::int64_t>(system.size() + user.size()) / 2;
    const std::int64_t needed = prompt + replyTokenBudget(user);
    std::int64_t size = kMinContextTokens;
    while (size < needed && size < kMaxContextTokens) {
        size *= 2;
    }
    return size;
}

const json& tutorResultSchema() {
    static const json schema = {
        {"type", "object"},
        {"properties",
         {
             {"language", {{"type", "string"}}},
             {"corrected", {{"type", "string"}}},
             {"improved", {{"type", "string"}}},
             {"issues",
              {{"type", "array"},
               {"items",
                {{"type", "object"},
                 {"properties",
                  {{"excerpt", {{"type", "string"}}},
                   {"explanation", {{"type", "string"}}},
                   {"category", {{"type", "string"}}}}},
                 {"required", {"excerpt", "explanation", "category"}}}}}},
             {"score", {{"type", "integer"}}},
         }},
        {"required", {"language", "corrected", "improved", "issues", "score"}},
    };
    return schema;
}

std::expected<std::string, ReviewError> decodeReply(std::string_view body) {
    auto parsed = parseBody(body);
    if (!parsed) {
        return std::unexpected(parsed.error());
    }
    if (parsed->is_object()) {
        if (const auto done = parsed->find("done_reason"); done != parsed->end() && *done == "length") {
            return std::unexpected(LLMError::replyCutOff());
        }
    }
    const auto message = parsed->is_object() ? parsed->find("message") : parsed->end();
    if (message == parsed->end() || !message->is_object()) {
        return std::unexpected(missingMember("the top level", "\"message\" object"));
    }
    const auto content = message->find("content");
    if (content == message->end() || !content->is_string()) {
        return std::unexpected(missingMember("message", "\"content\" string"));
    }
    return content->get<std::string>();
}

ReviewError transportFailure(const net::TransportError& error, std::string_view base) {
    using Kind = net::TransportError::Kind;
    switch (error.kind) {
    case Kind::cancelled:
        return Cancelled{};
    case Kind::timedOut:
        return LLMError::providerUnavailable("The local model timed out - it may still be loading. Try again.");
    case Kind::responseTooLarge:
    case Kind::libraryUnavailable:
        // Not a reachability problem: saying the server is down would send the user the wrong way.
        return error;
    case Kind::cannotConnect:
    case Kind::other:
        break;
    }
    return LLMError::providerUnavailable("Ollama isn't reachable at " + std::string(base) +
                                         ". Is it running? (run `ollama serve`)");
}

} // namespace

LocalClient::LocalClient(std::string endpoint, std::string model, std::chrono::milliseconds timeout)
    : m_endpoint(std::move(endpoint)), m_model(std::move(model)), m_timeout(timeout) {}

std::expected<std::string, ReviewError> LocalClient::complete(const std::string& system, const std::string& user,
                                                              std::stop_token stop) const {
    const std::string base = normalizedBase(m_endpoint);
    std::string url = base + "/api/chat";
    if (!net::isValidUrl(url)) {
        return std::unexpected(LLMError::invalidResponse());
    }
    const json body = {
        {"model", m_model},
        {"stream", false},
        {"format", tutorResultSchema()},
        {"options", {{"temperature", 0.2}, {"num_ctx", contextTokens(system, user)}}},
        {"messages", json::array({{{"role", "system"}, {"content", system}}, {{"role", "user"}, {"content", user}}})},
    };
    const net::HttpRequest request{
        .method = "POST",
        .url = std::move(url),
        .headers = {{"Content-Type", "application/json"}},
        .body = serialize(body),
        .timeout = m_timeout,
    };
    const auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response) {
        return std::unexpected(transportFailure(response.error(), base));
    }
    switch (response->status) {
    case 200:
        return decodeReply(response->body);
    case 404:
        return std::unexpected(LLMError::modelNotFound(m_model));
    default:
        return std::unexpected(LLMError::apiError(response->status, LLMErrorBody::message(response->body)));
    }
}

namespace OllamaService {

std::vector<std::string> listModels(const std::string& endpoint, std::stop_token stop) {
    std::string url = normalizedBase(endpoint) + "/api/tags";
    if (!net::isValidUrl(url)) {
        return {};
    }
    const net::HttpRequest request{.method = "GET", .url = std::move(url), .headers = {}, .body = {}, .timeout = {}};
    std::vector<std::string> names = fetchListing(request, std::move(stop), "models", "name");
    std::ranges::sort(names);
    return names;
}

} // namespace OllamaService

} // namespace norik::core
