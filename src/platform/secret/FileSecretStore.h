// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/preferences/SecretStore.h"

namespace norik::platform {

// The fallback when no Secret Service answers: a JSON object of account → text, UNENCRYPTED, in
// $XDG_DATA_HOME/norik/secrets.json by default. The folder is kept at 0700 and the file at 0600; the file is
// replaced atomically under an flock on "<file>.lock", like the settings file, so processes and threads may
// share it.
class FileSecretStore final : public core::SecretStore {
public:
    FileSecretStore();
    explicit FileSecretStore(std::filesystem::path file);

    [[nodiscard]] static std::filesystem::path defaultPath();
    [[nodiscard]] const std::filesystem::path& path() const { return m_file; }

    [[nodiscard]] std::optional<std::string> read(const std::string& account) override;
    [[nodiscard]] std::expected<void, std::string> store(const std::string& text, const std::string& account) override;

private:
    std::filesystem::path m_file;
};

} // namespace norik::platform
