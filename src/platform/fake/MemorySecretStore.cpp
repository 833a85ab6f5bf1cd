// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fake/MemorySecretStore.h"

namespace norik::platform {

std::optional<std::string> MemorySecretStore::read(const std::string& account) {
    const std::scoped_lock lock(m_mutex);
    const auto found = m_secrets.find(account);
    if (found == m_secrets.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::expected<void, std::string> MemorySecretStore::store(const std::string& text, const std::string& account) {
    const std::scoped_lock lock(m_mutex);
    if (text.empty()) {
        m_secrets.erase(account);
    } else {
        m_secrets.insert_or_assign(account, text);
    }
    return {};
}

} // namespace norik::platform
