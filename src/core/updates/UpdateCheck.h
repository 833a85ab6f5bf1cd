// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>

#include <compare>

namespace norik::core::updates {

// Orders two versions made of decimal components separated by "." ("1.10" is newer than "1.9"). A missing
// component counts as 0, so "1.2" equals "1.2.0"; leading zeros are ignored and components may be of any
// length. Absent when either side is not such a version: empty, an empty component, a sign, a suffix such as
// "-beta", or a leading "v". A malformed version is therefore never newer, nor older, than another.
[[nodiscard]] std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b);
// Whether `version` is well formed: dot-separated decimal numbers.
[[nodiscard]] bool isVersion(std::string_view version);

// What an update feed announces.
struct Release {
    std::string version; // a well-formed version (see compareVersions)
    std::string url;     // the release's page, always an http or https address
    std::string notes;   // empty when the feed gives none

    friend bool operator==(const Release&, const Release&) = default;
};

// Reads a feed, a JSON object {"version": …, "url": …, "notes": …}. "version" and "url" are required
// strings, "notes" an optional string (null reads as absent); other members are ignored, so a feed may
// grow. The error is one readable sentence saying what is wrong: not JSON, not an object, a member missing
// or of another type, a version that is not a version, or a page address that is not https (a remote feed
// must never make Norik open a file:, javascript: or a plain http address; http is accepted only for this
// machine, 127.0.0.1, [::1] or localhost). Notes are cut to kMaxNotesCharacters.
[[nodiscard]] std::expected<Release, std::string> decodeFeed(std::string_view body);

struct UpToDate {
    friend bool operator==(const UpToDate&, const UpToDate&) = default;
};

// The check did not produce an answer; `reason` is readable for the user.
struct Unreachable {
    std::string reason;

    friend bool operator==(const Unreachable&, const Unreachable&) = default;
};

// A newer release, the feed's answer that the installed version is current (or newer), or why there is no
// answer.
using CheckOutcome = std::variant<UpToDate, Release, Unreachable>;

inline constexpr std::chrono::seconds kFeedTimeout{20};
// Release notes longer than this are cut; the dialog that shows them is no reader.
inline constexpr std::size_t kMaxNotesCharacters = 2000;

// Fetches the feed at `feedUrl` with a GET and compares its version with `installedVersion`. Only a 200
// answer whose body decodes is an answer; a transport error, any other status (redirects are not followed)
// or a feed that does not decode is Unreachable with the transport's text, the status or the decoding
// error. A feed over plain http is only fetched from this machine; any other is Unreachable unasked. An installed
// version that is not well formed is Unreachable too, so nothing is offered as newer on a comparison that means
// nothing. A stop request on `stop` ends the transfer within milliseconds as Unreachable. Blocks its caller; safe on
// any thread.
[[nodiscard]] CheckOutcome checkForUpdate(std::string_view feedUrl, std::string_view installedVersion,
                                          std::stop_token stop = {});

} // namespace norik::core::updates
