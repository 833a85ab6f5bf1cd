// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/ProviderRequest.h"

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

std::vector<std::string> fetchListing(const net::HttpRequest& request, std::stop_token stop, const char* array,
                                      const char* field) {
    const auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response || response->status != 200) {
        return {};
    }
    const nlohmann::json list = nlohmann::json::parse(response->body, nullptr, /*allow_exceptions=*/false);
    const auto entries = list.is_object() ? list.find(array) : list.end();
    if (entries == list.end() || !entries->is_array()) {
        return {};
    }
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (const nlohmann::json& entry : *entries) {
        const auto name = entry.is_object() ? entry.find(field) : entry.end();
        if (name == entry.end() || !name->is_string()) {
            return {};
        }
        names.push_back(name->get<std::string>());
    }
    return names;
}

} // namespace norik::core::provider_request
