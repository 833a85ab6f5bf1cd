// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

#include "core/tutor/TutorResult.h"

// The tutor service's reader of the model's reply object; not part of the core's public interface.
namespace norik::core::reply_reader {

// Reads `text` as one JSON object (RFC 8259, strings in valid UTF-8, nothing but white space around it)
// that holds the five reply members with the right types; members of any other name, at any depth, are
// checked for syntax and ignored; a repeated member counts as its last value. Absent for anything else.
// The score is any number that is a whole 64-bit integer (7.0 is 7). More than kMaxDepth nested
// containers are refused before they are read, so a hostile reply costs no more than its length.
[[nodiscard]] std::optional<TutorResult> read(std::string_view text);

inline constexpr std::size_t kMaxDepth = 256;

} // namespace norik::core::reply_reader
