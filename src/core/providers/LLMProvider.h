// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace norik::core {

enum class LLMProvider { anthropic, openAI, local };

inline constexpr std::array kAllProviders{LLMProvider::anthropic, LLMProvider::openAI, LLMProvider::local};

// The stored form, also the suffix of the "model." and "apiKey." settings keys.
[[nodiscard]] constexpr std::string_view rawValue(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::anthropic:
        return "anthropic";
    case LLMProvider::openAI:
        return "openAI";
    case LLMProvider::local:
        return "local";
    }
    return "anthropic";
}

[[nodiscard]] constexpr std::string_view displayLabel(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::anthropic:
        return "Anthropic";
    case LLMProvider::openAI:
        return "OpenAI";
    case LLMProvider::local:
        return "Local";
    }
    return "Anthropic";
}

// Exact, case-sensitive match; callers fall back to anthropic on absent.
[[nodiscard]] constexpr std::optional<LLMProvider> providerFromRawValue(std::string_view raw) {
    for (const LLMProvider provider : kAllProviders) {
        if (rawValue(provider) == raw) {
            return provider;
        }
    }
    return std::nullopt;
}

} // namespace norik::core
