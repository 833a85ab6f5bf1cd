// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ranges>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/secret/SecretStoreFactory.h"

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

// What another program writing the same two attributes would use; the store must treat its items as its own.
const SecretSchema kOtherTool = [] {
    SecretSchema schema{};
    schema.name = "org.example.OtherTool";
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return schema;
}();

// A real gnome-keyring in the private D-Bus session of scripts/with-test-session, under a service name of the
// test's own: the user's own keys stay out of reach.
class SecretServiceStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!secretServiceAvailable()) {
            ASSERT_EQ(std::getenv("NORIK_REQUIRE_SECRET_SERVICE"), nullptr) << "no Secret Service on the session bus";
            GTEST_SKIP() << "no Secret Service on the session bus; run under scripts/with-test-session";
        }
    }

    void TearDown() override {
        secret_password_clear_sync(&kOtherTool, nullptr, nullptr, "service", m_service.c_str(), nullptr);
    }

    // The object path of each keyring item of this account.
    std::vector<std::string> items(const std::string& account) const {
        GHashTable* attributes =
            secret_attributes_build(&kOtherTool, "service", m_service.c_str(), "account", account.c_str(), nullptr);
        GList* found = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
        g_hash_table_unref(attributes);
        std::vector<std::string> paths;
        for (const GList* node = found; node != nullptr; node = node->next) {
            paths.emplace_back(g_dbus_proxy_get_object_path(G_DBUS_PROXY(node->data)));
        }
        g_list_free_full(found, g_object_unref);
        return paths;
    }

    void storeAsOtherTool(const std::string& account, const std::string& data) {
        SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
        ASSERT_TRUE(secret_password_store_binary_sync(&kOtherTool, SECRET_COLLECTION_DEFAULT, "Written elsewhere",
                                                      value, nullptr, nullptr, "service", m_service.c_str(), "account",
                                                      account.c_str(), nullptr));
        secret_value_unref(value);
    }

    std::string m_service = "dev.norik.Norik.Test." + std::to_string(::getpid()) + "." +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    SecretServiceStore m_store{m_service};
};

TEST_F(SecretServiceStoreTest, KeepsOneLastingItemPerAccountWhoeverWroteItAndAnEmptyTextDeletesOnlyIt) {
    ASSERT_TRUE(m_store.store("sk-ant ключ 🔑", "apiKey.anthropic"));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), "sk-ant ключ 🔑");
    const auto added = items("apiKey.anthropic");
    ASSERT_EQ(added.size(), 1U);
    EXPECT_FALSE(added[0].starts_with("/org/freedesktop/secrets/collection/session/")) << "lost at logout";

    ASSERT_TRUE(m_store.store("sk-openai", "apiKey.openAI"));
    ASSERT_TRUE(m_store.store("", "apiKey.anthropic"));
    ASSERT_TRUE(m_store.store("", "apiKey.anthropic")) << "deleting what is gone is no error";
    EXPECT_TRUE(items("apiKey.anthropic").empty());
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-openai");
    EXPECT_EQ(SecretServiceStore(m_service + ".other").read("apiKey.openAI"), std::nullopt);

    storeAsOtherTool("apiKey.local", "old");
    const auto written = items("apiKey.local");
    ASSERT_TRUE(m_store.store("new", "apiKey.local"));
    EXPECT_EQ(items("apiKey.local"), written);
    EXPECT_EQ(m_store.read("apiKey.local"), "new");
    storeAsOtherTool("apiKey.anthropic", std::string("sk-\xff\xfe", 5));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
}

TEST_F(SecretServiceStoreTest, TheSessionStoreTakesTheKeyringThatAnswersAtEachUse) {
    const tests::TemporaryFolder folder;
    std::vector<std::filesystem::path> announced;
    SessionSecretStore store(m_service, folder.path() / "secrets.json",
                             [&](const std::filesystem::path& file) { announced.push_back(file); });
    {
        // As before the keyring started: no bus at all.
        const tests::ScopedEnvironment saved{"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"};
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
        ASSERT_TRUE(store.store("sk-before", "apiKey.openAI"));
    }
    ASSERT_TRUE(store.store("sk-after", "apiKey.openAI"));
    EXPECT_EQ(FileSecretStore(folder.path() / "secrets.json").read("apiKey.openAI"), "sk-before");
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-after");
    EXPECT_EQ(announced, std::vector<std::filesystem::path>{folder.path() / "secrets.json"});
}

TEST(FileSecretStoreTest, KeepsEachAccountInPrivateFilesWhateverTheUmask) {
    using std::filesystem::perms;
    const tests::TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "norik" / "secrets.json";
    FileSecretStore store(file);
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::permissions(file.parent_path(), perms::all);
    const mode_t previousUmask = ::umask(0);
    ASSERT_TRUE(store.store("sk-ant ключ", "apiKey.anthropic"));
    ::umask(previousUmask);
    for (const auto& path : {file.parent_path(), file, std::filesystem::path(file.string() + ".lock")}) {
        const auto expected = path == file.parent_path() ? perms::owner_all : perms::owner_read | perms::owner_write;
        EXPECT_EQ(std::filesystem::status(path).permissions(), expected) << path;
    }
    ASSERT_TRUE(store.store("sk-openai", "apiKey.openAI"));
    EXPECT_EQ(store.read("apiKey.anthropic"), "sk-ant ключ");
    ASSERT_TRUE(store.store("", "apiKey.anthropic"));
    EXPECT_EQ(store.read("apiKey.openAI"), "sk-openai");
    EXPECT_EQ(tests::readFile(file).find("sk-ant"), std::string::npos) << "a deleted key leaves no trace";

    const std::string damaged = R"({"apiKey.anthropic": 5, "apiKey.openAI": "sk-half-writ)";
    tests::writeFile(file, damaged);
    EXPECT_EQ(store.read("apiKey.openAI"), std::nullopt);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(store.store("sk-new", "apiKey.local"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr().find("sk-"), std::string::npos);
    EXPECT_EQ(store.read("apiKey.local"), "sk-new");
    EXPECT_EQ(std::ranges::count(tests::snapshot(file.parent_path()) | std::views::values, damaged), 1)
        << "a damaged file is set aside, not overwritten";
}

TEST(SecretStoreFactory, FallsBackToTheFileWithASingleWarningWithoutASessionBus) {
    const tests::TemporaryFolder folder;
    const tests::ScopedEnvironment saved{"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"};
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(makeSecretStore()->store("sk-fallback", "apiKey.local"));
    EXPECT_EQ(makeSecretStore()->read("apiKey.local"), "sk-fallback");
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(tests::occurrences(warnings, (folder.path() / "norik" / "secrets.json").string()), 1U) << warnings;
}

} // namespace
} // namespace norik::platform
