// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SecretStore.h"
#include "core/preferences/SettingsStore.h"

namespace norik::cli {

// The stores of the user's data, each opened on first use: a command pays only for what it touches, and
// only commands that need a key ever probe the session bus or print the secret store's fallback warning.
class Stores {
public:
    Stores();
    ~Stores();
    Stores(const Stores&) = delete;
    Stores& operator=(const Stores&) = delete;

    [[nodiscard]] core::SettingsStore& settings() { return m_settings; }
    [[nodiscard]] core::SecretStore& secrets();
    // Their snapshots carry no key: a command reads the one key it needs with
    // core::storedOrEnvironmentApiKey, so that nothing asks
    // the keyring for a key that will not be used (the local provider takes none).
    [[nodiscard]] core::Preferences& preferences() { return m_preferences; }
    // Opened at its default location; may be unavailable, which it has then said on standard error.
    [[nodiscard]] core::NorikStore& norikStore();
    [[nodiscard]] core::HistoryStore& history();

private:
    class LazySecretStore;
    class NoSecrets;

    core::SettingsStore m_settings;
    std::unique_ptr<LazySecretStore> m_secrets;
    std::unique_ptr<NoSecrets> m_noSecrets;
    core::Preferences m_preferences;
    std::unique_ptr<core::NorikStore> m_norikStore;
    std::optional<core::HistoryStore> m_history;
};

// The key in the provider's environment variable; empty when unset or for local.
[[nodiscard]] std::string environmentApiKey(core::LLMProvider provider);

} // namespace norik::cli
