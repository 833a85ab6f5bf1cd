// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/providers/LLMClient.h"

namespace norik::core {

// The OpenAI Chat Completions API in JSON-object mode: one non-streaming request per review.
// Any transport failure, cancellation included, is reported as providerUnavailable with the
// connection text (but a libcurl that cannot be loaded as itself); a 200 body that does not decode is
// passed on as a DecodingError, and one whose first choice ended at "length" is LLMError::replyCutOff.
class OpenAIClient final : public LLMClient {
public:
    // "https://api.openai.com/v1", or NORIK_OPENAI_BASE_URL when set (same form: with the "/v1",
    // as OpenAI-compatible servers publish their base addresses).
    [[nodiscard]] static std::string defaultBaseUrl();

    OpenAIClient(std::string apiKey, std::string model, std::string baseUrl = defaultBaseUrl());

    [[nodiscard]] std::expected<std::string, ReviewError> complete(const std::string& system, const std::string& user,
                                                                   std::stop_token stop = {}) const override;

    // Chat model ids of the account, filtered and sorted. Never fails: empty instead.
    [[nodiscard]] static std::vector<std::string> listModels(const std::string& apiKey, std::stop_token stop = {},
                                                             const std::string& baseUrl = defaultBaseUrl());

    // The listing's filter: a chat-model prefix, none of the words of non-chat models, and not one of the
    // models only the Responses API serves (ids ending "-pro", ids with "codex"). A fine-tuned id
    // ("ft:<base>:…") passes when its base does.
    [[nodiscard]] static bool isChatModelId(std::string_view id);
    // Reasoning models (and models tuned from them) reject any temperature but their default with HTTP 400.
    [[nodiscard]] static bool isReasoningModelId(std::string_view id);

private:
    std::string m_apiKey;
    std::string m_model;
    std::string m_baseUrl;
};

} // namespace norik::core
