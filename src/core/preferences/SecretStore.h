// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <optional>
#include <string>

namespace norik::core {

// Small secrets (API keys) kept outside the settings file, each addressed by an account name such as
// "apiKey.anthropic"; the implementations add the application id as the service. A secret that cannot be
// read is absent; a store that fails leaves the old state and says why, so the user can be told.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The stored text; absent when missing, unreadable or not valid UTF-8.
    [[nodiscard]] virtual std::optional<std::string> read(const std::string& account) = 0;
    // An empty text deletes the item; otherwise the existing item's text is replaced, or a new item added.
    [[nodiscard]] virtual std::expected<void, std::string> store(const std::string& text,
                                                                 const std::string& account) = 0;
};

} // namespace norik::core
