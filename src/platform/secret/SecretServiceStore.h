// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/AppInfo.h"
#include "core/preferences/SecretStore.h"

namespace norik::platform {

// Secrets in the freedesktop Secret Service (GNOME Keyring, KWallet, KeePassXC) through libsecret: one item
// per account with the attributes "service" and "account", added to the default collection. The calls
// block on D-Bus, and a locked collection may bring up the desktop's unlock prompt. Safe to call from any
// thread. `service` exists so that tests can work beside, never on, the user's real items.
class SecretServiceStore final : public core::SecretStore {
public:
    explicit SecretServiceStore(std::string service = std::string(core::kAppId));

    [[nodiscard]] std::optional<std::string> read(const std::string& account) override;
    // Replaces the data of every matching item in place (in whichever collection it lives), so the item
    // keeps its identity, label and place; adds an item only when none matches.
    [[nodiscard]] std::expected<void, std::string> store(const std::string& text, const std::string& account) override;

private:
    std::string m_service;
};

} // namespace norik::platform
