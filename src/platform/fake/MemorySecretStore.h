// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/preferences/SecretStore.h"

namespace norik::platform {

// Secrets in a map, with the same empty-text-deletes rule as the real stores. Thread-safe.
class MemorySecretStore final : public core::SecretStore {
public:
    [[nodiscard]] std::optional<std::string> read(const std::string& account) override;
    [[nodiscard]] std::expected<void, std::string> store(const std::string& text, const std::string& account) override;

private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_secrets;
};

} // namespace norik::platform
