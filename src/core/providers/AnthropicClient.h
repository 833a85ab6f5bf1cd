// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "core/providers/LLMClient.h"

namespace norik::core {

// The Anthropic Messages API: one non-streaming request per review.
// Any transport failure, cancellation included, is reported as providerUnavailable with the
// connection text (but a libcurl that cannot be loaded as itself); a 200 body that does not decode is
// passed on as a DecodingError, and one stopped at "max_tokens" is LLMError::replyCutOff.
class AnthropicClient final : public LLMClient {
public:
    // "https://api.anthropic.com", or NORIK_ANTHROPIC_BASE_URL when set (same form: no "/v1").
    [[nodiscard]] static std::string defaultBaseUrl();

    AnthropicClient(std::string apiKey, std::string model, std::string baseUrl = defaultBaseUrl());

    [[nodiscard]] std::expected<std::string, ReviewError> complete(const std::string& system, const std::string& user,
                                                                   std::stop_token stop = {}) const override;

    // The account's model ids, every page in turn, in the order received. Never fails: empty instead,
    // also when a later page fails or `stop` is requested, as part of the list would pass for all of it.
    [[nodiscard]] static std::vector<std::string> listModels(const std::string& apiKey, std::stop_token stop = {},
                                                             const std::string& baseUrl = defaultBaseUrl());

private:
    std::string m_apiKey;
    std::string m_model;
    std::string m_baseUrl;
};

} // namespace norik::core
