// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/providers/LLMClient.h"
#include "core/providers/LLMProvider.h"

// What Norik knows of each provider, in one place: the names it is stored under, where its key comes from,
// its default model, and how to reach it. Everything that differs between providers is asked here.
namespace norik::core {

struct ProviderInfo {
    LLMProvider provider;
    std::string_view modelKey;       // the setting that holds the chosen model
    std::string_view apiKeyAccount;  // the secret store's account of its key
    std::string_view apiKeyVariable; // the environment variable used when no key is stored; empty: no key
    std::string_view defaultModel;   // empty: the user picks one of the installed models

    [[nodiscard]] constexpr bool takesApiKey() const { return !apiKeyVariable.empty(); }
};

inline constexpr std::array kProviderCatalogue{
    ProviderInfo{LLMProvider::anthropic, "model.anthropic", "apiKey.anthropic", "ANTHROPIC_API_KEY",
                 "claude-haiku-4-5-20251001"},
    ProviderInfo{LLMProvider::openAI, "model.openAI", "apiKey.openAI", "OPENAI_API_KEY", "gpt-4o-mini"},
    ProviderInfo{LLMProvider::local, "model.local", "apiKey.local", "", ""},
};

[[nodiscard]] constexpr const ProviderInfo& providerInfo(LLMProvider provider) {
    for (const ProviderInfo& info : kProviderCatalogue) {
        if (info.provider == provider) {
            return info;
        }
    }
    return kProviderCatalogue.front();
}

// The providers a key is stored for, in the catalogue's order.
[[nodiscard]] inline std::vector<LLMProvider> providersTakingAKey() {
    std::vector<LLMProvider> providers;
    for (const ProviderInfo& info : kProviderCatalogue) {
        if (info.takesApiKey()) {
            providers.push_back(info.provider);
        }
    }
    return providers;
}

// The client of `provider`. `localEndpoint` is used by the local provider only and `apiKey` by the others;
// `baseUrl`, when not empty, replaces a cloud provider's address.
[[nodiscard]] std::unique_ptr<LLMClient> makeClient(LLMProvider provider, const std::string& apiKey,
                                                    const std::string& model, const std::string& localEndpoint,
                                                    const std::string& baseUrl = {});

// The provider's models as its listing gives them (see each client's listModels): never fails, empty on any
// failure or a stop request. Blocks; any thread.
[[nodiscard]] std::vector<std::string> listModels(LLMProvider provider, const std::string& apiKey,
                                                  const std::string& localEndpoint, std::stop_token stop = {},
                                                  const std::string& baseUrl = {});

} // namespace norik::core
