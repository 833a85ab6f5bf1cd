// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LLMError.h"

#include <string>
#include <type_traits>

#include "core/providers/ReviewError.h"

namespace norik::core {

std::string LLMError::userMessage() const {
    return std::visit(
        [](const auto& error) -> std::string {
            using T = std::decay_t<decltype(error)>;
            if constexpr (std::is_same_v<T, ProviderUnavailable>) {
                return error.message;
            } else if constexpr (std::is_same_v<T, ModelNotFound>) {
                return "Model \"" + error.model + "\" isn't available. Pull it or pick another in Settings.";
            } else if constexpr (std::is_same_v<T, RateLimited>) {
                return error.message.value_or("Rate limited or out of credit. Check your plan and usage.");
            } else if constexpr (std::is_same_v<T, ApiError>) {
                return error.message.value_or("The AI service returned an error (HTTP " + std::to_string(error.status) +
                                              ").");
            } else if constexpr (std::is_same_v<T, MissingAPIKey>) {
                return "No API key set. Add one in Settings.";
            } else if constexpr (std::is_same_v<T, InvalidAPIKey>) {
                return "The API key was rejected. Check it in Settings.";
            } else if constexpr (std::is_same_v<T, InvalidResponse>) {
                return "Couldn't read the AI's response.";
            } else {
                static_assert(std::is_same_v<T, NotImplemented>);
                return "This provider is not wired up yet.";
            }
        },
        m_value);
}

std::string ReviewError::userMessage() const {
    return std::visit(
        [](const auto& error) -> std::string {
            using T = std::decay_t<decltype(error)>;
            if constexpr (std::is_same_v<T, LLMError>) {
                return error.userMessage();
            } else if constexpr (std::is_same_v<T, net::TransportError>) {
                return error.description;
            } else if constexpr (std::is_same_v<T, DecodingError>) {
                return "The AI's response could not be decoded: " + error.description;
            } else {
                static_assert(std::is_same_v<T, Cancelled>);
                return {};
            }
        },
        m_value);
}

} // namespace norik::core
