// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/providers/LLMProvider.h"

namespace norik::core {

class SecretStore;
class SettingsStore;

// The keys of the settings file that more than this class reads or writes.
inline constexpr std::string_view kProviderKey = "provider";
inline constexpr std::string_view kLocalEndpointKey = "localEndpoint";
inline constexpr std::string_view kExplanationLanguageKey = "explanationLanguage";
inline constexpr std::string_view kRetentionLimitKey = "retentionLimit";
inline constexpr std::string_view kOnboardingKey = "hasCompletedOnboarding";
// A non-empty value replaces the update feed address built in.
inline constexpr std::string_view kUpdateFeedUrlKey = "updateFeedURL";

// A user-editable setting, for listing and editing them from the command line.
struct SettingKey {
    enum class Type { string, integer, boolean };

    std::string_view name;
    Type type = Type::string;
    std::string_view defaultText;
};

// Every settings key with its type and default, in a stable order.
[[nodiscard]] std::span<const SettingKey> settingKeys();

// The user's choices, read from the settings store and the secret store on every call, so a change made by
// another process applies at once. A stored value of the wrong type reads as that key's default; an empty
// stored string is kept as it is (only an absent key takes the default), and nothing is trimmed.
// Thread-safety is that of the two stores it is built on.
class Preferences {
public:
    // What one review request needs, read consistently from a single version of the settings file.
    struct Snapshot {
        LLMProvider provider = LLMProvider::anthropic;
        std::string apiKey; // empty when none is stored and the environment has none
        std::string model;
        std::string localEndpoint;
        std::string explanationLanguage;

        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };

    Preferences(SettingsStore& settings, SecretStore& secrets);

    [[nodiscard]] Snapshot snapshot() const;
    // The snapshot without its key, which snapshot() reads from the secret store: that may wait for a
    // keyring to unlock, so a caller that must stay responsive reads the key elsewhere with apiKey().
    [[nodiscard]] Snapshot snapshotWithoutKey() const;
    // The stored key of `provider`, else the one its environment variable holds; empty for the local
    // provider, which takes none. Any thread, as far as the secret store allows.
    [[nodiscard]] std::string apiKey(LLMProvider provider) const;
    [[nodiscard]] std::string model(LLMProvider provider) const;
    [[nodiscard]] std::int64_t retentionLimit() const;
    [[nodiscard]] bool hasCompletedOnboarding() const;

    // Stores `text` under one of settingKeys() after checking it against the key's type ("provider" must be
    // one of the providers' raw values). The message explains a refusal, listing the known keys for an
    // unknown one, or reports why the settings file could not be written.
    [[nodiscard]] std::expected<void, std::string> setFromText(std::string_view key, std::string_view text);

private:
    SettingsStore& m_settings;
    SecretStore& m_secrets;
};

// Preferences::apiKey() on a bare secret store.
[[nodiscard]] std::string storedOrEnvironmentApiKey(SecretStore& secrets, LLMProvider provider);

} // namespace norik::core
