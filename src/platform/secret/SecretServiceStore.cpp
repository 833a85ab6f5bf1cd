// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/SecretServiceStore.h"

#include <memory>
#include <string_view>
#include <utility>

#include <libsecret/secret.h>

namespace norik::platform {

namespace {

constexpr std::string_view kApiKeyPrefix = "apiKey.";

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

// Matching ignores the schema name, so items written by other tools with the same two attributes count.
const SecretSchema* schema() {
    static const std::string name = std::string(core::kAppId) + ".Secret";
    static const SecretSchema instance = [] {
        SecretSchema built{};
        built.name = name.c_str();
        built.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &instance;
}

std::string label(std::string_view account) {
    if (account.starts_with(kApiKeyPrefix)) {
        account.remove_prefix(kApiKeyPrefix.size());
        return std::string(core::kAppName) + " API key (" + std::string(account) + ")";
    }
    return std::string(core::kAppName) + " secret (" + std::string(account) + ")";
}

// The failures are not reported (see core::SecretStore); the error only has to be released.
class ErrorSink {
public:
    ErrorSink() = default;
    ErrorSink(const ErrorSink&) = delete;
    ErrorSink& operator=(const ErrorSink&) = delete;
    ~ErrorSink() { g_clear_error(&m_error); }

    GError** out() {
        g_clear_error(&m_error);
        return &m_error;
    }
    [[nodiscard]] bool hasError() const { return m_error != nullptr; }
    [[nodiscard]] std::string message() const {
        return m_error != nullptr ? m_error->message : "the keyring did not say why";
    }

private:
    GError* m_error = nullptr;
};

} // namespace

SecretServiceStore::SecretServiceStore(std::string service) : m_service(std::move(service)) {}

std::optional<std::string> SecretServiceStore::read(const std::string& account) {
    ErrorSink error;
    const ValuePtr value(secret_password_lookup_binary_sync(schema(), nullptr, error.out(), "service",
                                                            m_service.c_str(), "account", account.c_str(), nullptr));
    if (!value) {
        return std::nullopt;
    }
    gsize length = 0;
    const gchar* data = secret_value_get(value.get(), &length);
    if (!g_utf8_validate(data, static_cast<gssize>(length), nullptr)) {
        return std::nullopt;
    }
    return std::string(data, length);
}

std::expected<void, std::string> SecretServiceStore::store(const std::string& text, const std::string& account) {
    ErrorSink error;
    if (text.empty()) {
        secret_password_clear_sync(schema(), nullptr, error.out(), "service", m_service.c_str(), "account",
                                   account.c_str(), nullptr);
        // Clearing an item that was never there is no failure.
        return error.hasError() ? std::expected<void, std::string>(std::unexpected(error.message()))
                                : std::expected<void, std::string>();
    }
    const AttributesPtr attributes(
        secret_attributes_build(schema(), "service", m_service.c_str(), "account", account.c_str(), nullptr));
    GList* items = secret_service_search_sync(nullptr, schema(), attributes.get(),
                                              static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK),
                                              nullptr, error.out());
    const ValuePtr value(secret_value_new(text.data(), static_cast<gssize>(text.size()), "text/plain"));
    bool updated = false;
    for (const GList* node = items; node != nullptr; node = node->next) {
        updated =
            secret_item_set_secret_sync(static_cast<SecretItem*>(node->data), value.get(), nullptr, error.out()) ||
            updated;
    }
    g_list_free_full(items, g_object_unref);
    if (!updated && secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label(account).c_str(),
                                                      value.get(), nullptr, error.out(), "service", m_service.c_str(),
                                                      "account", account.c_str(), nullptr) == 0) {
        return std::unexpected(error.message());
    }
    return {};
}

} // namespace norik::platform
