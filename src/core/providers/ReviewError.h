// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <variant>

#include "core/net/HttpSession.h"
#include "core/providers/LLMError.h"

// The error model of Norik's core.
//
// Every operation that can fail in an expected way returns std::expected<T, E> and is [[nodiscard]];
// nothing in the core throws across its interfaces (exceptions of third-party libraries are caught at
// the edge of the unit that calls them). The review pipeline (clients, tutor service) fails with
// ReviewError, which is one of:
//   - LLMError:        a provider failure with the exact user message;
//   - TransportError:  a failed HTTP exchange that a client passes on unchanged;
//   - DecodingError:   a reply that a client could not decode, passed on unchanged, with what was wrong;
//   - Cancelled:       the caller stopped the operation. Its own outcome: never shown to a user.
// Operations the design makes infallible towards their callers (model listings, the history store, the
// settings and secret stores) return plain values and fall back to empty or default values instead.
namespace norik::core {

struct DecodingError {
    std::string description;
    friend bool operator==(const DecodingError&, const DecodingError&) = default;
};

struct Cancelled {
    friend bool operator==(const Cancelled&, const Cancelled&) = default;
};

class ReviewError {
public:
    using Variant = std::variant<LLMError, net::TransportError, DecodingError, Cancelled>;

    ReviewError(LLMError error) : m_value(std::move(error)) {}            // NOLINT(google-explicit-constructor)
    ReviewError(net::TransportError error) : m_value(std::move(error)) {} // NOLINT(google-explicit-constructor)
    ReviewError(DecodingError error) : m_value(std::move(error)) {}       // NOLINT(google-explicit-constructor)
    ReviewError(Cancelled error) : m_value(error) {}                      // NOLINT(google-explicit-constructor)

    [[nodiscard]] const Variant& value() const { return m_value; }
    [[nodiscard]] bool isCancellation() const { return std::holds_alternative<Cancelled>(m_value); }
    [[nodiscard]] const LLMError* llmError() const { return std::get_if<LLMError>(&m_value); }

    // The sentence shown to the user. Empty for a cancellation, which is never shown.
    [[nodiscard]] std::string userMessage() const;

    friend bool operator==(const ReviewError&, const ReviewError&) = default;

private:
    Variant m_value;
};

} // namespace norik::core
