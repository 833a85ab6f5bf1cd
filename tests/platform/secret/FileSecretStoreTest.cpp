// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/FileSecretStore.h"

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/secret/SecretStoreFactory.h"

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

mode_t permissions(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class FileSecretStoreTest : public ::testing::Test {
protected:
    tests::TemporaryFolder m_folder;
    std::filesystem::path m_file = m_folder.path() / "data" / "norik" / "secrets.json";
    FileSecretStore m_store{m_file};
};

TEST_F(FileSecretStoreTest, AddsReplacesAndDeletesPerAccountInPrivateFiles) {
    std::filesystem::create_directories(m_file.parent_path());
    std::filesystem::permissions(m_file.parent_path(), std::filesystem::perms::all);
    const mode_t previousUmask = ::umask(0);
    ASSERT_TRUE(m_store.store("sk-ant-1", "apiKey.anthropic"));
    ::umask(previousUmask);
    EXPECT_EQ(permissions(m_file.parent_path()), 0700U);
    EXPECT_EQ(permissions(m_file), 0600U);
    EXPECT_EQ(permissions(m_file.string() + ".lock"), 0600U);

    ASSERT_TRUE(m_store.store("sk-openai", "apiKey.openAI"));
    ASSERT_TRUE(m_store.store("sk-ant-2 ключ", "apiKey.anthropic"));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), "sk-ant-2 ключ");
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-openai");
    ASSERT_TRUE(m_store.store("", "apiKey.anthropic"));
    ASSERT_TRUE(m_store.store("", "apiKey.local"));
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-openai");
    EXPECT_EQ(tests::readFile(m_file).find("sk-ant"), std::string::npos);
    EXPECT_EQ(permissions(m_file), 0600U);
}

TEST_F(FileSecretStoreTest, UnusableContentsReadAsAbsentAndACorruptFileIsMovedAside) {
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
    tests::writeFile(m_file, R"({"apiKey.anthropic": 5, "apiKey.openAI": null})");
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
    EXPECT_EQ(m_store.read("apiKey.openAI"), std::nullopt);

    const std::string corrupt = R"({"apiKey.anthropic": "sk-half-writ)";
    tests::writeFile(m_file, corrupt);
    EXPECT_EQ(m_store.read("apiKey.anthropic"), std::nullopt);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(m_store.store("sk-new", "apiKey.openAI"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr().find("sk-"), std::string::npos);
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-new");
    const auto asides = tests::filesStartingWith(m_file.parent_path(), "secrets.json.corrupt-");
    ASSERT_EQ(asides.size(), 1U);
    EXPECT_EQ(tests::readFile(asides[0]), corrupt);
}

TEST_F(FileSecretStoreTest, AStoreThatCannotWriteSaysWhyAndKeepsNothing) {
    const std::filesystem::path blocked = m_file.parent_path() / "not-a-folder";
    tests::writeFile(blocked, "");
    FileSecretStore store(blocked / "secrets.json");
    const auto stored = store.store("sk-lost", "apiKey.openAI");
    ASSERT_FALSE(stored);
    EXPECT_NE(stored.error().find(blocked.string()), std::string::npos) << stored.error();
    EXPECT_EQ(store.read("apiKey.openAI"), std::nullopt);
}

TEST(SecretStoreFactory, FallsBackToTheFileWithASingleWarningWithoutASessionBus) {
    const tests::TemporaryFolder folder;
    const std::filesystem::path log = folder.path() / "stderr.txt";
    const std::filesystem::path data = folder.path() / "data";
    const std::string key = "sk-fallback-do-not-print";

    // In a child process: the warning is once per process, and the changed environment must not leak.
    EXPECT_EQ(tests::runInChildProcess([&] {
                  ::dup2(::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
                  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
                  ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
                  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
                  if (!makeSecretStore()->store(key, "apiKey.local")) {
                      return 1;
                  }
                  return makeSecretStore()->read("apiKey.local") == key ? 0 : 1;
              }),
              0);
    const std::string warnings = tests::readFile(log);
    EXPECT_EQ(tests::occurrences(warnings, "unencrypted"), 1U) << warnings;
    EXPECT_NE(warnings.find((data / "norik" / "secrets.json").string()), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find(key), std::string::npos);
    EXPECT_EQ(permissions(data / "norik" / "secrets.json"), 0600U);
}

} // namespace
} // namespace norik::platform
