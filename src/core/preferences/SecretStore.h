// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace norik::core {

// Small secrets (API keys) kept outside the settings file, each addressed by an account name such as
// "apiKey.anthropic"; the implementations add the application id as the service. Neither call reports
// failure: a secret that cannot be read is absent, and a failed store leaves the old state.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The stored text; absent when missing, unreadable or not valid UTF-8.
    [[nodiscard]] virtual std::optional<std::string> read(const std::string& account) = 0;
    // An empty text deletes the item; otherwise the existing item's text is replaced, or a new item added.
    virtual void store(const std::string& text, const std::string& account) = 0;
};

} // namespace norik::core
