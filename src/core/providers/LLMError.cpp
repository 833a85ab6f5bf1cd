// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/providers/LLMError.h"

#include <optional>
#include <string>
#include <type_traits>

#include "core/providers/ReviewError.h"

namespace norik::core {
namespace {

std::string messageOr(const std::optional<std::string>& message, const std::string& fallback) {
    return message && !message->empty() ? *message : fallback;
}

} // namespace

std::string LLMError::userMessage() const {
    return std::visit(
        [](const auto& error) -> std::string {
            using T = std::decay_t<decltype(error)>;
            if constexpr (std::is_same_v<T, ProviderUnavailable>) {
                return error.message;
            } else if constexpr (std::is_same_v<T, ModelNotFound>) {
                return "Model \"" + error.model + "\" isn't available. Pull it or pick another in Settings.";
            } else if constexpr (std::is_same_v<T, RateLimited>) {
                return messageOr(error.message, "Rate limited or out of credit. Check your plan and usage.");
            } else if constexpr (std::is_same_v<T, ApiError>) {
                return messageOr(error.message,
                                 "The AI service returned an error (HTTP " + std::to_string(error.status) + ").");
            } else if constexpr (std::is_same_v<T, MissingAPIKey>) {
                return "No API key set. Add one in Settings.";
            } else if constexpr (std::is_same_v<T, InvalidAPIKey>) {
                return "The API key was rejected. Check it in Settings.";
            } else if constexpr (std::is_same_v<T, InvalidResponse>) {
                return "Couldn't read the AI's response.";
            } else if constexpr (std::is_same_v<T, NotImplemented>) {
                return "This provider is not wired up yet.";
            } else {
                static_assert(std::is_same_v<T, ReplyCutOff>);
                return "The AI's reply was cut off before it was complete. Try a shorter selection.";
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
