// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace norik::core {

// The typed failure of a provider client; userMessage() is the exact sentence the review panel shows.
class LLMError {
public:
    struct ProviderUnavailable {
        std::string message;
        friend bool operator==(const ProviderUnavailable&, const ProviderUnavailable&) = default;
    };
    struct ModelNotFound {
        std::string model;
        friend bool operator==(const ModelNotFound&, const ModelNotFound&) = default;
    };
    struct RateLimited {
        std::optional<std::string> message;
        friend bool operator==(const RateLimited&, const RateLimited&) = default;
    };
    struct ApiError {
        long status = 0;
        std::optional<std::string> message;
        friend bool operator==(const ApiError&, const ApiError&) = default;
    };
    struct MissingAPIKey {
        friend bool operator==(const MissingAPIKey&, const MissingAPIKey&) = default;
    };
    struct InvalidAPIKey {
        friend bool operator==(const InvalidAPIKey&, const InvalidAPIKey&) = default;
    };
    struct InvalidResponse {
        friend bool operator==(const InvalidResponse&, const InvalidResponse&) = default;
    };
    struct NotImplemented {
        friend bool operator==(const NotImplemented&, const NotImplemented&) = default;
    };
    // The service stopped the reply at its length limit, so what arrived is only the start of an answer.
    struct ReplyCutOff {
        friend bool operator==(const ReplyCutOff&, const ReplyCutOff&) = default;
    };

    using Variant = std::variant<ProviderUnavailable, ModelNotFound, RateLimited, ApiError, MissingAPIKey,
                                 InvalidAPIKey, InvalidResponse, NotImplemented, ReplyCutOff>;

    template <typename T>
    requires std::is_constructible_v<Variant, T> LLMError(T value)
        : m_value(std::move(value)) {} // NOLINT(google-explicit-constructor)

    static LLMError providerUnavailable(std::string message) { return ProviderUnavailable{std::move(message)}; }
    static LLMError modelNotFound(std::string model) { return ModelNotFound{std::move(model)}; }
    static LLMError rateLimited(std::optional<std::string> message) { return RateLimited{std::move(message)}; }
    static LLMError apiError(long status, std::optional<std::string> message) {
        return ApiError{status, std::move(message)};
    }
    static LLMError missingAPIKey() { return MissingAPIKey{}; }
    static LLMError invalidAPIKey() { return InvalidAPIKey{}; }
    static LLMError invalidResponse() { return InvalidResponse{}; }
    static LLMError notImplemented() { return NotImplemented{}; }
    static LLMError replyCutOff() { return ReplyCutOff{}; }

    [[nodiscard]] const Variant& value() const { return m_value; }
    template <typename T> [[nodiscard]] bool is() const { return std::holds_alternative<T>(m_value); }

    // A provider message that is absent or empty gives way to the fixed text, so the panel is never blank.
    [[nodiscard]] std::string userMessage() const;

    friend bool operator==(const LLMError&, const LLMError&) = default;

private:
    Variant m_value;
};

} // namespace norik::core
