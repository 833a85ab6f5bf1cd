// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/SecretServiceStore.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <unistd.h>

#include "core/preferences/Preferences.h"
#include "core/providers/ProviderCatalogue.h"
#include "platform/secret/FileSecretStore.h"
#include "platform/secret/SecretStoreFactory.h"

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

using core::LLMProvider;
using core::Preferences;

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

// Object path and label of each keyring item with these attributes.
std::vector<std::pair<std::string, std::string>> keyringItems(const std::string& service, const std::string& account) {
    GHashTable* attributes =
        secret_attributes_build(otherToolSchema(), "service", service.c_str(), "account", account.c_str(), nullptr);
    GList* found = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    g_hash_table_unref(attributes);
    std::vector<std::pair<std::string, std::string>> items;
    for (const GList* node = found; node != nullptr; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        gchar* label = secret_item_get_label(item);
        items.emplace_back(g_dbus_proxy_get_object_path(G_DBUS_PROXY(item)), label);
        g_free(label);
    }
    g_list_free_full(found, g_object_unref);
    return items;
}

std::string defaultCollectionPath() {
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    SecretCollection* collection = service == nullptr
                                       ? nullptr
                                       : secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                          SECRET_COLLECTION_NONE, nullptr, nullptr);
    std::string path = collection == nullptr ? "(none)" : g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection));
    g_clear_object(&collection);
    g_clear_object(&service);
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
        secret_password_clear_sync(otherToolSchema(), nullptr, nullptr, "service", m_service.c_str(), nullptr);
    }

    void storeAsOtherTool(const std::string& account, const std::string& label, const std::string& data) {
        SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
        ASSERT_TRUE(secret_password_store_binary_sync(otherToolSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                      value, nullptr, nullptr, "service", m_service.c_str(), "account",
                                                      account.c_str(), nullptr));
        secret_value_unref(value);
    }

    // Never the real application id: the user's own keys must stay out of reach of the tests.
    std::string m_service = "dev.norik.Norik.Test." + std::to_string(::getpid()) + "." +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    SecretServiceStore m_store{m_service};
};

TEST_F(SecretServiceStoreTest, TheSessionStoreTakesTheKeyringThatAnswersAtEachUse) {
    const tests::TemporaryFolder folder;
    const std::string account = std::string(core::providerInfo(LLMProvider::openAI).apiKeyAccount);
    std::vector<std::filesystem::path> announced;
    SessionSecretStore store(m_service, folder.path() / "secrets.json",
                             [&](const std::filesystem::path& file) { announced.push_back(file); });
    const std::string bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtimeFolder = runtime != nullptr ? runtime : "";
    // As before the keyring started: no bus at all.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    ASSERT_TRUE(store.store("sk-before", account));
    ASSERT_TRUE(store.store("sk-before-again", account));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtimeFolder.c_str(), 1);

    ASSERT_TRUE(store.store("sk-after", account));

    EXPECT_EQ(FileSecretStore(folder.path() / "secrets.json").read(account), "sk-before-again");
    EXPECT_EQ(m_store.read(account), "sk-after");
    EXPECT_EQ(store.read(account), "sk-after");
    EXPECT_EQ(announced, std::vector<std::filesystem::path>{folder.path() / "secrets.json"});
}

TEST_F(SecretServiceStoreTest, AddsALabelledItemToTheDefaultCollectionAndReplacesItInPlace) {
    const std::string account = std::string(core::providerInfo(LLMProvider::anthropic).apiKeyAccount);
    EXPECT_EQ(m_store.read(account), std::nullopt);
    EXPECT_TRUE(m_store.store("sk-first", account));
    EXPECT_EQ(m_store.read(account), "sk-first");
    const auto added = keyringItems(m_service, account);
    ASSERT_EQ(added.size(), 1U);
    EXPECT_EQ(added[0].second, "Norik API key (anthropic)");
    EXPECT_TRUE(added[0].first.starts_with(defaultCollectionPath() + "/")) << added[0].first;

    EXPECT_TRUE(m_store.store("sk-second ключ 🔑", account));
    EXPECT_EQ(m_store.read(account), "sk-second ключ 🔑");
    EXPECT_EQ(keyringItems(m_service, account), added);
}

TEST_F(SecretServiceStoreTest, UpdatesAnItemAnotherProgramWroteInsteadOfAddingOne) {
    storeAsOtherTool("apiKey.local", "Written elsewhere", "old");
    EXPECT_TRUE(m_store.store("new", "apiKey.local"));
    const auto items = keyringItems(m_service, "apiKey.local");
    ASSERT_EQ(items.size(), 1U);
    EXPECT_EQ(items[0].second, "Written elsewhere");
    EXPECT_EQ(m_store.read("apiKey.local"), "new");
}

TEST_F(SecretServiceStoreTest, AnEmptyTextDeletesOnlyThatProvidersItem) {
    for (const LLMProvider provider : core::kAllProviders) {
        EXPECT_TRUE(m_store.store("key-" + std::string(core::rawValue(provider)),
                                  std::string(core::providerInfo(provider).apiKeyAccount)));
    }
    EXPECT_TRUE(m_store.store("", "apiKey.openAI"));
    EXPECT_TRUE(m_store.store("", "apiKey.openAI"));
    EXPECT_EQ(m_store.read("apiKey.openAI"), std::nullopt);
    EXPECT_TRUE(keyringItems(m_service, "apiKey.openAI").empty());
    EXPECT_EQ(m_store.read("apiKey.anthropic"), "key-anthropic");
    EXPECT_EQ(m_store.read("apiKey.local"), "key-local");
    EXPECT_EQ(SecretServiceStore(m_service + ".other").read("apiKey.anthropic"), std::nullopt);
}

TEST_F(SecretServiceStoreTest, DataThatIsNotUtf8ReadsAsAbsent) {
    storeAsOtherTool("apiKey.anthropic", "Binary", std::string("sk-\xff\xfe", 5));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
}

} // namespace
} // namespace norik::platform
