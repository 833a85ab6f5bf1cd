// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/Preferences.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <optional>

#include <charconv>

#include "core/preferences/SecretStore.h"
#include "core/preferences/SettingsStore.h"
#include "core/providers/ProviderCatalogue.h"

namespace norik::core {

namespace {

using Values = std::map<std::string, SettingValue>;

constexpr std::int64_t kDefaultRetentionLimit = 200;

constexpr SettingKey modelSetting(LLMProvider provider) {
    return {providerInfo(provider).modelKey, SettingKey::Type::string, providerInfo(provider).defaultModel};
}

constexpr std::array kSettingKeys{
    SettingKey{kProviderKey, SettingKey::Type::string, "anthropic"},
    modelSetting(LLMProvider::anthropic),
    modelSetting(LLMProvider::openAI),
    modelSetting(LLMProvider::local),
    SettingKey{kLocalEndpointKey, SettingKey::Type::string, "http://127.0.0.1:11434"},
    SettingKey{kExplanationLanguageKey, SettingKey::Type::string, "English"},
    SettingKey{kRetentionLimitKey, SettingKey::Type::integer, "200"},
    SettingKey{kOnboardingKey, SettingKey::Type::boolean, "false"},
    SettingKey{kUpdateFeedUrlKey, SettingKey::Type::string, ""},
};

const SettingKey* findKey(std::string_view name) {
    const auto* found = std::ranges::find(kSettingKeys, name, &SettingKey::name);
    return found == kSettingKeys.end() ? nullptr : found;
}

template <typename T> const T* typedValue(const Values& values, std::string_view key) {
    const auto found = values.find(std::string(key));
    return found == values.end() ? nullptr : std::get_if<T>(&found->second);
}

// Only string keys call this, so the table always has an entry.
std::string stringOrDefault(const Values& values, std::string_view key) {
    if (const auto* text = typedValue<std::string>(values, key)) {
        return *text;
    }
    return std::string(findKey(key)->defaultText);
}

LLMProvider providerFrom(const Values& values) {
    const auto* raw = typedValue<std::string>(values, kProviderKey);
    return raw == nullptr ? LLMProvider::anthropic : providerFromRawValue(*raw).value_or(LLMProvider::anthropic);
}

std::string knownKeysList() {
    std::string list;
    for (const SettingKey& key : kSettingKeys) {
        list += list.empty() ? "" : ", ";
        list += key.name;
    }
    return list;
}

std::expected<SettingValue, std::string> parseText(const SettingKey& key, std::string_view text) {
    // Built by appending: GCC 12 raises a false -Wrestrict on `"literal" + std::string` at -O3.
    std::string quoted = "\"";
    quoted.append(text).append("\"");
    switch (key.type) {
    case SettingKey::Type::integer: {
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size()) {
            return std::unexpected(std::string(key.name) + " must be a whole number, not " + quoted);
        }
        return SettingValue(number);
    }
    case SettingKey::Type::boolean:
        if (text != "true" && text != "false") {
            return std::unexpected(std::string(key.name) + " must be true or false, not " + quoted);
        }
        return SettingValue(text == "true");
    case SettingKey::Type::string:
        break;
    }
    if (key.name == kProviderKey && !providerFromRawValue(text)) {
        std::string choices;
        for (const LLMProvider provider : kAllProviders) {
            choices += choices.empty() ? "" : ", ";
            choices += rawValue(provider);
        }
        return std::unexpected("provider must be one of " + choices + ", not " + quoted);
    }
    return SettingValue(std::string(text));
}

} // namespace

std::span<const SettingKey> settingKeys() {
    return kSettingKeys;
}

Preferences::Preferences(SettingsStore& settings, SecretStore& secrets) : m_settings(settings), m_secrets(secrets) {}

Preferences::Snapshot Preferences::snapshot() const {
    Snapshot snapshot = snapshotWithoutKey();
    snapshot.apiKey = apiKey(snapshot.provider);
    return snapshot;
}

Preferences::Snapshot Preferences::snapshotWithoutKey() const {
    const Values values = m_settings.all();
    const LLMProvider provider = providerFrom(values);
    return Snapshot{
        .provider = provider,
        .apiKey = {},
        .model = stringOrDefault(values, providerInfo(provider).modelKey),
        .localEndpoint = stringOrDefault(values, kLocalEndpointKey),
        .explanationLanguage = stringOrDefault(values, kExplanationLanguageKey),
    };
}

std::string Preferences::apiKey(LLMProvider provider) const {
    return storedOrEnvironmentApiKey(m_secrets, provider);
}

std::string storedOrEnvironmentApiKey(SecretStore& secrets, LLMProvider provider) {
    const ProviderInfo& info = providerInfo(provider);
    // The local client never gets a key, so there is no reason to ask the keyring for one.
    if (!info.takesApiKey()) {
        return {};
    }
    if (std::optional<std::string> stored = secrets.read(std::string(info.apiKeyAccount)); stored && !stored->empty()) {
        return *std::move(stored);
    }
    const char* value = std::getenv(std::string(info.apiKeyVariable).c_str());
    return value != nullptr ? value : "";
}

std::string Preferences::model(LLMProvider provider) const {
    return stringOrDefault(m_settings.all(), providerInfo(provider).modelKey);
}

std::int64_t Preferences::retentionLimit() const {
    return m_settings.integer(kRetentionLimitKey).value_or(kDefaultRetentionLimit);
}

bool Preferences::hasCompletedOnboarding() const {
    return m_settings.boolean(kOnboardingKey).value_or(false);
}

std::expected<void, std::string> Preferences::setFromText(std::string_view key, std::string_view text) {
    const SettingKey* known = findKey(key);
    if (known == nullptr) {
        return std::unexpected("unknown setting \"" + std::string(key) + "\"; known settings: " + knownKeysList());
    }
    auto value = parseText(*known, text);
    if (!value) {
        return std::unexpected(value.error());
    }
    return m_settings.set(key, *value);
}

} // namespace norik::core
