// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret/FileSecretStore.h"

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../../core/preferences/TestFiles.h"

#include "platform/secret/SecretStoreFactory.h"

namespace norik::platform {
namespace {

using tests::TemporaryFolder;

mode_t permissions(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class FileSecretStoreTest : public ::testing::Test {
protected:
    TemporaryFolder m_folder;
    std::filesystem::path m_file = m_folder.path() / "data" / "norik" / "secrets.json";
    FileSecretStore m_store{m_file};
};

TEST_F(FileSecretStoreTest, KeepsFolderAndFilePrivateWhateverTheUmask) {
    std::filesystem::create_directories(m_file.parent_path());
    std::filesystem::permissions(m_file.parent_path(), std::filesystem::perms::all);
    const mode_t previous = ::umask(0);
    m_store.store("sk-private", "apiKey.anthropic");
    ::umask(previous);

    EXPECT_EQ(permissions(m_file.parent_path()), 0700U);
    EXPECT_EQ(permissions(m_file), 0600U);
    EXPECT_EQ(permissions(m_file.string() + ".lock"), 0600U);
    EXPECT_EQ(m_store.read("apiKey.anthropic"), "sk-private");
}

TEST_F(FileSecretStoreTest, AddsReplacesAndDeletesPerAccount) {
    m_store.store("sk-ant-1", "apiKey.anthropic");
    m_store.store("sk-openai", "apiKey.openAI");
    m_store.store("sk-ant-2 ключ", "apiKey.anthropic");
    EXPECT_EQ(m_store.read("apiKey.anthropic"), "sk-ant-2 ключ");
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-openai");
    EXPECT_EQ(m_store.read("apiKey.local"), std::nullopt);

    m_store.store("", "apiKey.anthropic");
    m_store.store("", "apiKey.local");
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
    {
        const tests::StderrCapture quiet;
        m_store.store("sk-new", "apiKey.openAI");
    }
    EXPECT_EQ(m_store.read("apiKey.openAI"), "sk-new");
    int asides = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_file.parent_path())) {
        if (entry.path().filename().string().starts_with("secrets.json.corrupt-")) {
            ++asides;
            EXPECT_EQ(tests::readFile(entry.path()), corrupt);
        }
    }
    EXPECT_EQ(asides, 1);
}

TEST(SecretStoreFactory, FallsBackToTheFileWithASingleWarningWithoutASessionBus) {
    const TemporaryFolder folder;
    const std::filesystem::path log = folder.path() / "stderr.txt";
    const std::filesystem::path runtime = folder.path() / "runtime";
    const std::filesystem::path data = folder.path() / "data";
    std::filesystem::create_directories(runtime);
    const std::string key = "sk-fallback-do-not-print";

    // In a child process: the warning is once per process, and the environment change must not leak.
    const int exitCode = tests::runInChildProcess([&] {
        const int descriptor = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(descriptor, STDERR_FILENO);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        const auto writer = makeSecretStore();
        const auto reader = makeSecretStore();
        writer->store(key, "apiKey.local");
        return reader->read("apiKey.local") == key ? 0 : 1;
    });
    EXPECT_EQ(exitCode, 0);

    const std::string warnings = tests::readFile(log);
    EXPECT_EQ(tests::occurrences(warnings, "unencrypted"), 1U) << warnings;
    EXPECT_NE(warnings.find((data / "norik" / "secrets.json").string()), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find(key), std::string::npos);
    EXPECT_EQ(permissions(data / "norik" / "secrets.json"), 0600U);
}

} // namespace
} // namespace norik::platform
