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

TEST(FileSecretStoreTest, KeepsEachAccountInPrivateFilesWhateverTheUmask) {
    const tests::TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "norik" / "secrets.json";
    FileSecretStore store(file);
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::permissions(file.parent_path(), std::filesystem::perms::all);
    const mode_t previousUmask = ::umask(0);
    ASSERT_TRUE(store.store("sk-ant-1", "apiKey.anthropic"));
    ::umask(previousUmask);
    for (const auto& path : {file.parent_path(), file, std::filesystem::path(file.string() + ".lock")}) {
        EXPECT_EQ(permissions(path), path == file.parent_path() ? 0700U : 0600U) << path;
    }
    ASSERT_TRUE(store.store("sk-openai", "apiKey.openAI"));
    ASSERT_TRUE(store.store("sk-ant-2 ключ", "apiKey.anthropic"));
    EXPECT_EQ(store.read("apiKey.anthropic"), "sk-ant-2 ключ");
    ASSERT_TRUE(store.store("", "apiKey.anthropic"));
    EXPECT_EQ(store.read("apiKey.anthropic"), std::nullopt);
    EXPECT_EQ(store.read("apiKey.openAI"), "sk-openai");
    EXPECT_EQ(tests::readFile(file).find("sk-ant"), std::string::npos) << "a deleted key leaves no trace";

    tests::writeFile(file, R"({"apiKey.anthropic": 5, "apiKey.openAI": "sk-half-writ)");
    EXPECT_EQ(store.read("apiKey.openAI"), std::nullopt);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(store.store("sk-new", "apiKey.local"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr().find("sk-"), std::string::npos);
    EXPECT_EQ(store.read("apiKey.local"), "sk-new");
    const auto asides = tests::filesStartingWith(file.parent_path(), "secrets.json.corrupt-");
    ASSERT_EQ(asides.size(), 1U) << "a damaged file is set aside, not overwritten";
    EXPECT_EQ(tests::readFile(asides[0]), R"({"apiKey.anthropic": 5, "apiKey.openAI": "sk-half-writ)");

    const std::filesystem::path blocked = folder.path() / "not-a-folder";
    tests::writeFile(blocked, "");
    const auto refused = FileSecretStore(blocked / "secrets.json").store("sk-lost", "apiKey.openAI");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find(blocked.string()), std::string::npos) << refused.error();
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
                  return makeSecretStore()->store(key, "apiKey.local") && makeSecretStore()->read("apiKey.local") == key
                             ? 0
                             : 1;
              }),
              0);
    const std::string warnings = tests::readFile(log);
    EXPECT_EQ(tests::occurrences(warnings, (data / "norik" / "secrets.json").string()), 1U) << warnings;
    EXPECT_EQ(warnings.find(key), std::string::npos);
    EXPECT_EQ(permissions(data / "norik" / "secrets.json"), 0600U);
}

} // namespace
} // namespace norik::platform
