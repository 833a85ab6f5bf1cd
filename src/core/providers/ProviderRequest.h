// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/net/HttpSession.h"
#include "core/providers/ReviewError.h"

// Pieces the three provider clients share; not part of the core's public interface.
namespace norik::core::provider_request {

// `base` without exactly one trailing "/" (a doubled slash keeps one), then `path` appended as text.
[[nodiscard]] std::string joinUrl(std::string_view base, std::string_view path);

// What a cloud client reports for a failed transfer: the connection text `unreachable`, except when
// libcurl could not be loaded, which no connection check would mend.
[[nodiscard]] ReviewError cloudTransportFailure(const net::TransportError& error, std::string_view unreachable);

// A key with a line break cannot go into a header; the service would never accept it anyway.
[[nodiscard]] bool isUnsendableKey(std::string_view key);

// Room for the longest reply to `user`: the text twice (corrected, improved) and the issues. A token
// is at least one byte in every tokenizer the services use, and most hold two or more even in scripts
// outside Latin, so half a token per byte of each copy plus a fixed allowance for the issues is ample.
inline constexpr std::int64_t kMinReplyTokens = 4096;
inline constexpr std::int64_t kIssuesTokens = 2048;
[[nodiscard]] std::int64_t replyTokenBudget(std::string_view user);

// `text` with every byte but the unreserved ones (letters, digits, "-._~") written as %XX, for a query value.
[[nodiscard]] std::string percentEncoded(std::string_view text);

// Compact JSON of a request body. Bytes that are not UTF-8 become U+FFFD rather than failing the
// review; callers hand in text from the clipboard or a terminal, where that is the useful reading.
[[nodiscard]] std::string serialize(const nlohmann::json& body);

// The base address from `variable` when it is set and not empty, else `fallback`.
[[nodiscard]] std::string baseUrlFromEnvironment(const char* variable, std::string_view fallback);

// Parses a 200 body; a body that is not JSON becomes a DecodingError naming what went wrong.
[[nodiscard]] std::expected<nlohmann::json, ReviewError> parseBody(std::string_view body);

[[nodiscard]] DecodingError missingMember(std::string_view path, std::string_view expected);

// The JSON object of a 200 response; absent after a failed transfer, another status or another body.
[[nodiscard]] std::optional<nlohmann::json> fetchObject(const net::HttpRequest& request, std::stop_token stop);

// The `field` string of every entry of `list`'s `array` member, in order; absent when any entry lacks it.
[[nodiscard]] std::optional<std::vector<std::string>> namesIn(const nlohmann::json& list, const char* array,
                                                              const char* field);

// What a listing endpoint names, from one response. Listings never fail: a failed transfer, another
// status, or a body in which any entry lacks the field all give an empty list.
[[nodiscard]] std::vector<std::string> fetchListing(const net::HttpRequest& request, std::stop_token stop,
                                                    const char* array, const char* field);

} // namespace norik::core::provider_request
