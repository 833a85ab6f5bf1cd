// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Stores.h"

#include <cstdlib>

#include "core/providers/ProviderCatalogue.h"
#include "platform/secret/SecretStoreFactory.h"

namespace norik::cli {

class Stores::LazySecretStore final : public core::SecretStore {
public:
    [[nodiscard]] std::optional<std::string> read(const std::string& account) override {
        return backend().read(account);
    }
    [[nodiscard]] std::expected<void, std::string> store(const std::string& text, const std::string& account) override {
        return backend().store(text, account);
    }

private:
    core::SecretStore& backend() {
        if (!m_store) {
            m_store = platform::makeSecretStore();
        }
        return *m_store;
    }

    std::unique_ptr<core::SecretStore> m_store;
};

// What Preferences reads keys from: nothing, see preferences().
class Stores::NoSecrets final : public core::SecretStore {
public:
    [[nodiscard]] std::optional<std::string> read(const std::string& /*account*/) override { return std::nullopt; }
    [[nodiscard]] std::expected<void, std::string> store(const std::string& /*text*/,
                                                         const std::string& /*account*/) override {
        return {};
    }
};

Stores::Stores()
    : m_secrets(std::make_unique<LazySecretStore>()), m_noSecrets(std::make_unique<NoSecrets>()),
      m_preferences(m_settings, *m_noSecrets) {}

Stores::~Stores() = default;

core::SecretStore& Stores::secrets() {
    return *m_secrets;
}

core::NorikStore& Stores::norikStore() {
    if (!m_norikStore) {
        m_norikStore = std::make_unique<core::NorikStore>(core::NorikStore::defaultLocation());
    }
    return *m_norikStore;
}

core::HistoryStore& Stores::history() {
    if (!m_history) {
        m_history.emplace(norikStore());
    }
    return *m_history;
}

std::string environmentApiKey(core::LLMProvider provider) {
    const std::string variable(core::providerInfo(provider).apiKeyVariable);
    const char* value = variable.empty() ? nullptr : std::getenv(variable.c_str());
    return value != nullptr ? value : "";
}

} // namespace norik::cli
