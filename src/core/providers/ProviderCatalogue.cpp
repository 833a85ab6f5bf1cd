// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/ProviderCatalogue.h"

#include "core/providers/AnthropicClient.h"
#include "core/providers/LocalClient.h"
#include "core/providers/OpenAIClient.h"

namespace norik::core {

std::unique_ptr<LLMClient> makeClient(LLMProvider provider, const std::string& apiKey, const std::string& model,
                                      const std::string& localEndpoint, const std::string& baseUrl) {
    switch (provider) {
    case LLMProvider::openAI:
        return std::make_unique<OpenAIClient>(apiKey, model,
                                              baseUrl.empty() ? OpenAIClient::defaultBaseUrl() : baseUrl);
    case LLMProvider::local:
        return std::make_unique<LocalClient>(localEndpoint, model);
    case LLMProvider::anthropic:
        break;
    }
    return std::make_unique<AnthropicClient>(apiKey, model,
                                             baseUrl.empty() ? AnthropicClient::defaultBaseUrl() : baseUrl);
}

std::vector<std::string> listModels(LLMProvider provider, const std::string& apiKey, const std::string& localEndpoint,
                                    std::stop_token stop, const std::string& baseUrl) {
    switch (provider) {
    case LLMProvider::openAI:
        return OpenAIClient::listModels(apiKey, std::move(stop),
                                        baseUrl.empty() ? OpenAIClient::defaultBaseUrl() : baseUrl);
    case LLMProvider::local:
        return OllamaService::listModels(localEndpoint, std::move(stop));
    case LLMProvider::anthropic:
        break;
    }
    return AnthropicClient::listModels(apiKey, std::move(stop),
                                       baseUrl.empty() ? AnthropicClient::defaultBaseUrl() : baseUrl);
}

} // namespace norik::core
