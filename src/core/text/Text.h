// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode text helpers on UTF-8 strings. A "character" everywhere in Norik is an extended grapheme
// cluster, so an emoji with modifiers or a letter with combining marks counts once.
// All functions are pure and thread-safe. Input that is not valid UTF-8 is handled without crashing:
// invalid sequences count as one character each and are passed through by the cutting functions.
namespace norik::core::text {

[[nodiscard]] bool isValidUtf8(std::string_view text);

// Removes the Unicode whitespace-and-newline set (White_Space property: spaces, tabs, line and
// paragraph separators, U+0085, …) from both ends.
[[nodiscard]] std::string trimmed(std::string_view text);

[[nodiscard]] std::size_t graphemeCount(std::string_view text);

// The first `count` grapheme clusters of `text` (all of it when it has fewer).
[[nodiscard]] std::string prefixGraphemes(std::string_view text, std::size_t count);

// Full Unicode lower-casing (one code point may become several), locale independent.
[[nodiscard]] std::string lowercased(std::string_view text);

// The first character in upper (title) case, the rest unchanged: "k" -> "K", "space" -> "Space".
[[nodiscard]] std::string capitalized(std::string_view text);

} // namespace norik::core::text
