// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/net/HttpSession.h"
#include "core/providers/ReviewError.h"

// Pieces the three provider clients share; not part of the core's public interface.
namespace norik::core::provider_request {

// `base` without exactly one trailing "/" (a doubled slash keeps one), then `path` appended as text.
[[nodiscard]] std::string joinUrl(std::string_view base, std::string_view path);

// Compact JSON of a request body. Bytes that are not UTF-8 become U+FFFD rather than failing the
// review; callers hand in text from the clipboard or a terminal, where that is the useful reading.
[[nodiscard]] std::string serialize(const nlohmann::json& body);

// The base address from `variable` when it is set and not empty, else `fallback`.
[[nodiscard]] std::string baseUrlFromEnvironment(const char* variable, std::string_view fallback);

// Parses a 200 body; a body that is not JSON becomes a DecodingError naming what went wrong.
[[nodiscard]] std::expected<nlohmann::json, ReviewError> parseBody(std::string_view body);

[[nodiscard]] DecodingError missingMember(std::string_view path, std::string_view expected);

// What a listing endpoint names: the `field` string of every entry of the `array` member of a 200 body,
// in the order received. Listings never fail: a failed transfer, another status, or a body in which any
// entry lacks the field all give an empty list.
[[nodiscard]] std::vector<std::string> fetchListing(const net::HttpRequest& request, std::stop_token stop,
                                                    const char* array, const char* field);

} // namespace norik::core::provider_request
