// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/ProviderRequest.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace norik::core::provider_request {

std::string joinUrl(std::string_view base, std::string_view path) {
    if (base.ends_with('/')) {
        base.remove_suffix(1);
    }
    std::string url(base);
    url.append(path);
    return url;
}

std::string percentEncoded(std::string_view text) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            encoded.push_back(c);
        } else {
            encoded.append({'%', kHex[byte >> 4U], kHex[byte & 0x0FU]});
        }
    }
    return encoded;
}

ReviewError cloudTransportFailure(const net::TransportError& error, std::string_view unreachable) {
    if (error.kind == net::TransportError::Kind::libraryUnavailable) {
        return error;
    }
    return LLMError::providerUnavailable(std::string(unreachable));
}

bool isUnsendableKey(std::string_view key) {
    return key.find_first_of(std::string_view{"\r\n\0", 3}) != std::string_view::npos;
}

std::int64_t replyTokenBudget(std::string_view user) {
    return std::max(kMinReplyTokens, static_cast<std::int64_t>(user.size()) + kIssuesTokens);
}

std::string serialize(const nlohmann::json& body) {
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string baseUrlFromEnvironment(const char* variable, std::string_view fallback) {
    // Read once per client construction on the caller's thread; nothing in Norik sets the environment.
    const char* value = std::getenv(variable); // NOLINT(concurrency-mt-unsafe)
    if (value != nullptr && *value != '\0') {
        return value;
    }
    return std::string(fallback);
}

std::expected<nlohmann::json, ReviewError> parseBody(std::string_view body) {
    nlohmann::json json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) {
        return std::unexpected(DecodingError{"The response is not valid JSON."});
    }
    return json;
}

DecodingError missingMember(std::string_view path, std::string_view expected) {
    return DecodingError{"The response has no " + std::string(expected) + " at " + std::string(path) + "."};
}

std::optional<nlohmann::json> fetchObject(const net::HttpRequest& request, std::stop_token stop) {
    const auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response || response->status != 200) {
        return std::nullopt;
    }
    nlohmann::json body = nlohmann::json::parse(response->body, nullptr, /*allow_exceptions=*/false);
    if (!body.is_object()) {
        return std::nullopt;
    }
    return body;
}

std::optional<std::vector<std::string>> namesIn(const nlohmann::json& list, const char* array, const char* field) {
    const auto entries = list.find(array);
    if (entries == list.end() || !entries->is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (const nlohmann::json& entry : *entries) {
        const auto name = entry.is_object() ? entry.find(field) : entry.end();
        if (name == entry.end() || !name->is_string()) {
            return std::nullopt;
        }
        names.push_back(name->get<std::string>());
    }
    return names;
}

std::vector<std::string> fetchListing(const net::HttpRequest& request, std::stop_token stop, const char* array,
                                      const char* field) {
    const auto list = fetchObject(request, std::move(stop));
    return list ? namesIn(*list, array, field).value_or(std::vector<std::string>{}) : std::vector<std::string>{};
}

} // namespace norik::core::provider_request
