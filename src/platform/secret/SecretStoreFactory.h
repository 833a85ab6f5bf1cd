// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/preferences/SecretStore.h"
#include "platform/secret/FileSecretStore.h"
#include "platform/secret/SecretServiceStore.h"

namespace norik::platform {

// Whether the session bus has a Secret Service: the name org.freedesktop.secrets has an owner or can be
// activated. Never starts a bus; false without one.
[[nodiscard]] bool secretServiceAvailable();

// Chooses at every call: the Secret Service when one answers on the session bus now, else the unencrypted
// file. A keyring that starts after the program is used from then on. Any thread.
class SessionSecretStore final : public core::SecretStore {
public:
    // `onUnencrypted` runs once, on the calling thread, the first time the file serves a call, with its path.
    SessionSecretStore(std::string service, std::filesystem::path file,
                       std::function<void(const std::filesystem::path&)> onUnencrypted);

    [[nodiscard]] std::optional<std::string> read(const std::string& account) override;
    [[nodiscard]] std::expected<void, std::string> store(const std::string& text, const std::string& account) override;

private:
    core::SecretStore& current();

    SecretServiceStore m_service;
    FileSecretStore m_file;
    std::function<void(const std::filesystem::path&)> m_onUnencrypted;
    std::once_flag m_warned;
};

// The SessionSecretStore of the application. Use of the file is reported once per process as a problem
// that names the file.
[[nodiscard]] std::unique_ptr<core::SecretStore> makeSecretStore();

} // namespace norik::platform
