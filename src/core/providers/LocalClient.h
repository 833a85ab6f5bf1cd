// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <stop_token>
#include <string>
#include <vector>

#include "core/providers/LLMClient.h"

namespace norik::core {

// An Ollama server's chat endpoint, with the reply constrained to the tutor result's JSON schema.
// Cancellation is reported as Cancelled; a time-out and an unreachable server as providerUnavailable
// with texts that explain the two typical local failures. An address without a scheme is taken as
// http ("localhost:11434"), for the listing too.
class LocalClient final : public LLMClient {
public:
    // A server that must first load the model into memory may send nothing for far longer than the
    // cloud services do.
    static constexpr std::chrono::milliseconds kChatTimeout{std::chrono::seconds{180}};

    LocalClient(std::string endpoint, std::string model, std::chrono::milliseconds timeout = kChatTimeout);

    [[nodiscard]] std::expected<std::string, ReviewError> complete(const std::string& system, const std::string& user,
                                                                   std::stop_token stop = {}) const override;

private:
    std::string m_endpoint;
    std::string m_model;
    std::chrono::milliseconds m_timeout;
};

namespace OllamaService {

// The names of the models installed on the server at `endpoint`, sorted. Never fails: empty instead.
[[nodiscard]] std::vector<std::string> listModels(const std::string& endpoint, std::stop_token stop = {});

} // namespace OllamaService

} // namespace norik::core
