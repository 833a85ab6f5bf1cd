// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norik::core::LLMErrorBody {

// The human-readable message of a provider's error body: {"error":{"message":"…"}} (nested) or
// {"error":"…"} (flat), tried in that order. Absent for any other body; never fails.
[[nodiscard]] std::optional<std::string> message(std::string_view body);

} // namespace norik::core::LLMErrorBody
