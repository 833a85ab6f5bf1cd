// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/UpdateCheck.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/net/HttpSession.h"
#include "core/text/Text.h"

namespace norik::core::updates {

namespace {

// Components without their leading zeros, so "0" and "00" are both empty and components of any length
// compare as numbers by length first, then digit by digit, with no overflow.
std::optional<std::vector<std::string_view>> components(std::string_view version) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t dot = version.find('.');
        std::string_view part = version.substr(0, dot);
        if (part.empty() || !std::ranges::all_of(part, [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        part.remove_prefix(std::min(part.find_first_not_of('0'), part.size()));
        parts.push_back(part);
        if (dot == std::string_view::npos) {
            return parts;
        }
        version.remove_prefix(dot + 1);
    }
}

// Anyone on the way could swap a feed or a page fetched over plain http for one of their own, and the page is
// opened in the browser as Norik's download page. Only this machine is trusted without TLS (a local mirror, a
// test feed).
bool isSecureOrLocal(std::string_view url) {
    if (!net::isValidUrl(url)) {
        return false;
    }
    const auto lowered = [](std::string_view text) {
        std::string result(text);
        std::ranges::transform(result, result.begin(),
                               [](char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; });
        return result;
    };
    const std::string scheme = lowered(url.substr(0, url.find(':')));
    if (scheme == "https") {
        return true;
    }
    std::string_view authority = url.substr(url.find("://") + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    authority.remove_prefix(authority.rfind('@') == std::string_view::npos ? 0 : authority.rfind('@') + 1);
    const std::string_view host = authority.starts_with('[') ? authority.substr(0, authority.find(']') + 1)
                                                             : authority.substr(0, authority.find(':'));
    const std::string name = lowered(host);
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

std::strong_ordering compareComponent(std::string_view a, std::string_view b) {
    if (const auto byLength = a.size() <=> b.size(); byLength != 0) {
        return byLength;
    }
    return a.compare(b) <=> 0;
}

std::string inQuotes(std::string_view text) {
    std::string result = "\"";
    result.append(text).append("\"");
    return result;
}

} // namespace

bool isVersion(std::string_view version) {
    return components(version).has_value();
}

std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b) {
    const auto left = components(a);
    const auto right = components(b);
    if (!left || !right) {
        return std::nullopt;
    }
    const std::size_t count = std::max(left->size(), right->size());
    for (std::size_t index = 0; index < count; ++index) {
        const std::string_view l = index < left->size() ? (*left)[index] : std::string_view{};
        const std::string_view r = index < right->size() ? (*right)[index] : std::string_view{};
        if (const auto order = compareComponent(l, r); order != 0) {
            return order;
        }
    }
    return std::strong_ordering::equal;
}

std::expected<Release, std::string> decodeFeed(std::string_view body) {
    const nlohmann::json feed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (feed.is_discarded()) {
        return std::unexpected("The update feed is not valid JSON.");
    }
    if (!feed.is_object()) {
        return std::unexpected("The update feed is not a JSON object.");
    }
    const auto version = feed.find("version");
    if (version == feed.end() || !version->is_string()) {
        return std::unexpected("The update feed has no \"version\" string.");
    }
    const auto url = feed.find("url");
    if (url == feed.end() || !url->is_string()) {
        return std::unexpected("The update feed has no \"url\" string.");
    }
    const auto notes = feed.find("notes");
    if (notes != feed.end() && !notes->is_string() && !notes->is_null()) {
        return std::unexpected("The update feed's \"notes\" is not a string.");
    }

    Release release{.version = version->get<std::string>(), .url = url->get<std::string>(), .notes = {}};
    if (!isVersion(release.version)) {
        return std::unexpected("The update feed's version " + inQuotes(release.version) + " is not a version number.");
    }
    if (!net::isValidUrl(release.url)) {
        return std::unexpected("The update feed's page " + inQuotes(release.url) + " is not an http or https address.");
    }
    if (!isSecureOrLocal(release.url)) {
        return std::unexpected("The update feed's page " + inQuotes(release.url) + " is not an https address.");
    }
    if (notes != feed.end() && notes->is_string()) {
        // Notes are a few lines for a dialog; a feed that sends a book gets its first lines shown.
        release.notes = text::prefixGraphemes(notes->get<std::string>(), kMaxNotesCharacters);
    }
    return release;
}

CheckOutcome checkForUpdate(std::string_view feedUrl, std::string_view installedVersion, std::stop_token stop) {
    if (!isVersion(installedVersion)) {
        return Unreachable{"The installed version " + inQuotes(installedVersion) + " is not a version number."};
    }
    if (net::isValidUrl(feedUrl) && !isSecureOrLocal(feedUrl)) {
        return Unreachable{"The update feed " + inQuotes(feedUrl) + " is not an https address."};
    }
    net::HttpRequest request;
    request.url = feedUrl;
    request.headers = {{"Accept", "application/json"}};
    request.timeout = kFeedTimeout;
    auto response = net::HttpSession::shared().send(request, std::move(stop));
    if (!response) {
        return Unreachable{std::move(response.error().description)};
    }
    if (response->status != 200) {
        return Unreachable{"The update server answered with HTTP status " + std::to_string(response->status) + "."};
    }
    auto release = decodeFeed(response->body);
    if (!release) {
        return Unreachable{std::move(release.error())};
    }
    if (compareVersions(release->version, installedVersion) == std::strong_ordering::greater) {
        return std::move(*release);
    }
    return UpToDate{};
}

} // namespace norik::core::updates
