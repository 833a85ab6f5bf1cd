// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "core/providers/ReviewError.h"
#include "core/tutor/TutorResult.h"

namespace norik::core {

class TutorService {
public:
    // Cuts the JSON object out of the model's reply (from the first "{" to the last "}") and decodes
    // it. Fails with LLMError::invalidResponse for anything that is not a valid reply object; the
    // decoder's detail is deliberately dropped. Pure and thread-safe.
    [[nodiscard]] static std::expected<TutorResult, ReviewError> parse(std::string_view reply);
};

// The reply format's JSON, with the reply object's keys (for `norik review --json`).
[[nodiscard]] std::string toJson(const TutorResult& result);

} // namespace norik::core
