// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/SecretServiceStore.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <unistd.h>

#include "core/preferences/Preferences.h"
#include "platform/secret/SecretStoreFactory.h"

namespace norik::platform {
namespace {

// What another program writing the same two attributes would use; the store must treat its items as its own.
const SecretSchema* otherToolSchema() {
    static const SecretSchema schema = [] {
        SecretSchema built{};
        built.name = "org.example.OtherTool";
        built.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &schema;
}

struct KeyringItem {
    std::string objectPath;
    std::string label;
};

std::vector<KeyringItem> keyringItems(const std::string& service, const std::string& account) {
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    GError* error = nullptr;
    GList* found = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
    g_hash_table_unref(attributes);
    EXPECT_EQ(error, nullptr) << error->message;
    g_clear_error(&error);
    std::vector<KeyringItem> items;
    for (const GList* node = found; node != nullptr; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        gchar* label = secret_item_get_label(item);
        items.push_back({g_dbus_proxy_get_object_path(G_DBUS_PROXY(item)), label});
        g_free(label);
    }
    g_list_free_full(found, g_object_unref);
    return items;
}

std::string defaultCollectionPath() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    g_clear_error(&error);
    if (service == nullptr) {
        return "(no Secret Service)";
    }
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    g_clear_error(&error);
    g_object_unref(service);
    if (collection == nullptr) {
        return "(no default collection)";
    }
    std::string path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection));
    g_object_unref(collection);
    return path;
}

class SecretServiceStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!secretServiceAvailable()) {
            if (std::getenv("NORIK_REQUIRE_SECRET_SERVICE") != nullptr) {
                FAIL() << "NORIK_REQUIRE_SECRET_SERVICE is set but no Secret Service is on the session bus";
            }
            GTEST_SKIP() << "no Secret Service on the session bus; run under scripts/with-test-session";
        }
    }

    void TearDown() override {
        GError* error = nullptr;
        secret_password_clear_sync(otherToolSchema(), nullptr, &error, "service", m_service.c_str(), nullptr);
        g_clear_error(&error);
    }

    void storeAsOtherTool(const std::string& account, const std::string& label, const std::string& data) {
        SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
        GError* error = nullptr;
        secret_password_store_binary_sync(otherToolSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr,
                                          &error, "service", m_service.c_str(), "account", account.c_str(), nullptr);
        secret_value_unref(value);
        ASSERT_EQ(error, nullptr) << error->message;
    }

    // Never the real application id: the user's own keys must stay out of reach of the tests.
    std::string m_service = "dev.norik.Norik.Test." + std::to_string(::getpid()) + "." +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    SecretServiceStore m_store{m_service};
};

TEST_F(SecretServiceStoreTest, TheFactoryChoosesTheSecretService) {
    EXPECT_NE(dynamic_cast<SecretServiceStore*>(makeSecretStore().get()), nullptr);
}

TEST_F(SecretServiceStoreTest, AddsALabelledItemToTheDefaultCollection) {
    const std::string account = core::Preferences::apiKeyAccount(core::LLMProvider::anthropic);
    EXPECT_EQ(m_store.read(account), std::nullopt);
    m_store.store("sk-ant-123", account);
    EXPECT_EQ(m_store.read(account), "sk-ant-123");

    const auto items = keyringItems(m_service, account);
    ASSERT_EQ(items.size(), 1U);
    EXPECT_EQ(items[0].label, "Norik API key (anthropic)");
    EXPECT_TRUE(items[0].objectPath.starts_with(defaultCollectionPath() + "/")) << items[0].objectPath;
}

TEST_F(SecretServiceStoreTest, ReplacesTheDataOfTheExistingItemInPlace) {
    const std::string account = core::Preferences::apiKeyAccount(core::LLMProvider::openAI);
    m_store.store("sk-first", account);
    const auto first = keyringItems(m_service, account);
    ASSERT_EQ(first.size(), 1U);
    m_store.store("sk-second ключ 🔑", account);
    EXPECT_EQ(m_store.read(account), "sk-second ключ 🔑");
    const auto second = keyringItems(m_service, account);
    ASSERT_EQ(second.size(), 1U);
    EXPECT_EQ(second[0].objectPath, first[0].objectPath);

    const std::string foreignAccount = core::Preferences::apiKeyAccount(core::LLMProvider::local);
    storeAsOtherTool(foreignAccount, "Written elsewhere", "old");
    m_store.store("new", foreignAccount);
    const auto foreign = keyringItems(m_service, foreignAccount);
    ASSERT_EQ(foreign.size(), 1U);
    EXPECT_EQ(foreign[0].label, "Written elsewhere");
    EXPECT_EQ(m_store.read(foreignAccount), "new");
}

TEST_F(SecretServiceStoreTest, AnEmptyTextDeletesTheItem) {
    const std::string account = core::Preferences::apiKeyAccount(core::LLMProvider::anthropic);
    m_store.store("sk-ant-123", account);
    m_store.store("", account);
    EXPECT_EQ(m_store.read(account), std::nullopt);
    EXPECT_TRUE(keyringItems(m_service, account).empty());
    m_store.store("", account);
    EXPECT_EQ(m_store.read(account), std::nullopt);
}

TEST_F(SecretServiceStoreTest, ProvidersAndServicesAreIsolated) {
    for (const core::LLMProvider provider : core::kAllProviders) {
        m_store.store("key-" + std::string(core::rawValue(provider)), core::Preferences::apiKeyAccount(provider));
    }
    m_store.store("", core::Preferences::apiKeyAccount(core::LLMProvider::openAI));
    EXPECT_EQ(m_store.read(core::Preferences::apiKeyAccount(core::LLMProvider::anthropic)), "key-anthropic");
    EXPECT_EQ(m_store.read(core::Preferences::apiKeyAccount(core::LLMProvider::openAI)), std::nullopt);
    EXPECT_EQ(m_store.read(core::Preferences::apiKeyAccount(core::LLMProvider::local)), "key-local");

    SecretServiceStore otherService(m_service + ".other");
    EXPECT_EQ(otherService.read(core::Preferences::apiKeyAccount(core::LLMProvider::anthropic)), std::nullopt);
}

TEST_F(SecretServiceStoreTest, DataThatIsNotUtf8ReadsAsAbsent) {
    storeAsOtherTool("apiKey.anthropic", "Binary", std::string("sk-\xff\xfe", 5));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
}

} // namespace
} // namespace norik::platform
