// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <stop_token>
#include <string>

#include "core/providers/ReviewError.h"

namespace norik::core {

// One model call: the system prompt and the user message in, the model's raw reply text out.
// Implementations are small immutable values built for one call; they keep no state between calls, so
// any number of calls may run at once on any threads. A stop request on `stop` ends the HTTP exchange;
// each client reports that as its contract says (the caller discards the outcome of a stopped review).
class LLMClient {
public:
    virtual ~LLMClient() = default;
    [[nodiscard]] virtual std::expected<std::string, ReviewError>
    complete(const std::string& system, const std::string& user, std::stop_token stop = {}) const = 0;
};

} // namespace norik::core
