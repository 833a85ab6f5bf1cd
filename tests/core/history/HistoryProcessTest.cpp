// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HistoryTestSupport.h"

#include "core/AppInfo.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"

extern char** environ;

namespace norik::core {
namespace {

using testing::RawDatabase;

// Starts the writer program with its standard error going to `errorFile`.
pid_t spawnWriter(const std::string& target, int reviews, const std::filesystem::path& errorFile,
                  std::optional<std::filesystem::path> xdgDataHome = std::nullopt) {
    std::vector<std::string> arguments{NORIK_HISTORY_WRITER, target, std::to_string(reviews)};
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!xdgDataHome || !std::string_view(*variable).starts_with("XDG_DATA_HOME=")) {
            environment.emplace_back(*variable);
        }
    }
    if (xdgDataHome) {
        environment.push_back("XDG_DATA_HOME=" + xdgDataHome->string());
    }
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (std::string& string : strings) {
            result.push_back(string.data());
        }
        result.push_back(nullptr);
        return result;
    };
    auto argv = pointers(arguments);
    auto envp = pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << "cannot start " << argv[0];
    return spawned == 0 ? pid : -1;
}

// The exit code, or -1 when the child did not exit normally.
int waitForExit(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

class HistoryProcessTest : public ::testing::Test {
protected:
    [[nodiscard]] std::filesystem::path file() const { return m_folder.path() / "norik.store"; }
    [[nodiscard]] std::filesystem::path errors(const std::string& name) const { return m_folder.path() / name; }

    testing::TempFolder m_folder;
};

TEST_F(HistoryProcessTest, TwoProcessesWriteIntoOneNewFileAtOnce) {
    constexpr int kReviews = 400;
    const pid_t first = spawnWriter(file().string(), kReviews, errors("first.err"));
    const pid_t second = spawnWriter(file().string(), kReviews, errors("second.err"));
    EXPECT_EQ(waitForExit(first), 0);
    EXPECT_EQ(waitForExit(second), 0);
    EXPECT_EQ(testing::fileBytes(errors("first.err")) + testing::fileBytes(errors("second.err")), "");

    RawDatabase raw{file()};
    EXPECT_EQ(raw.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(raw.integer("SELECT count(DISTINCT source) FROM Correction"), 2 * kReviews);
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern WHERE category = 'grammar'"), 2 * 2 * kReviews);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM MistakePattern"), 1);
}

TEST_F(HistoryProcessTest, AKilledWriterLeavesOnlyWholeReviews) {
    const pid_t writer = spawnWriter(file().string(), 0, errors("writer.err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::int64_t stored = 0;
    while (stored < 40 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (std::filesystem::exists(file())) {
            stored = RawDatabase(file()).tryValue<std::int64_t>("SELECT count(*) FROM Correction").value_or(0);
        }
    }
    ASSERT_GE(stored, 40) << "the writer stored too little before the deadline";
    ASSERT_EQ(kill(writer, SIGKILL), 0);
    EXPECT_EQ(waitForExit(writer), -1);

    EXPECT_EQ(RawDatabase(file()).text("PRAGMA integrity_check"), "ok");
    NorikStore store{file()};
    ASSERT_TRUE(store.isAvailable()) << store.unavailableReason();
    HistoryStore history{store};
    const auto corrections = static_cast<std::int64_t>(history.recentCorrections(1'000'000).size());
    const auto categories = history.allCategoryCounts();
    ASSERT_EQ(categories.size(), 1U);
    EXPECT_GE(corrections, stored);
    EXPECT_EQ(categories[0].count, 2 * corrections);
}

TEST_F(HistoryProcessTest, ADamagedFileIsReportedOnceAndNotTouched) {
    const std::string bytes = testing::garbage();
    testing::writeFile(file(), bytes);
    EXPECT_EQ(waitForExit(spawnWriter(file().string(), 3, errors("writer.err"))), 0);

    const auto reported = lines(testing::fileBytes(errors("writer.err")));
    ASSERT_EQ(reported.size(), 1U);
    EXPECT_NE(reported[0].find(file().string()), std::string::npos) << reported[0];
    EXPECT_EQ(testing::fileBytes(file()), bytes);
}

TEST_F(HistoryProcessTest, AFailingWriteRollsBackAndIsReportedOnce) {
    {
        NorikStore store{file()};
        HistoryStore{store}.record(testing::reviewWithCategories({"grammar"}), "before", 10);
    }
    RawDatabase raw{file()};
    raw.execute("DROP TABLE Correction");

    EXPECT_EQ(waitForExit(spawnWriter(file().string(), 3, errors("writer.err"))), 0);
    const auto reported = lines(testing::fileBytes(errors("writer.err")));
    ASSERT_EQ(reported.size(), 1U);
    EXPECT_NE(reported[0].find(file().string()), std::string::npos) << reported[0];
    // The counters were bumped before the review failed to store, and went back with it.
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern WHERE category = 'grammar'"), 1);
}

TEST_F(HistoryProcessTest, TheSharedStoreLivesUnderXdgDataHome) {
    const auto dataHome = m_folder.path() / "data";
    EXPECT_EQ(waitForExit(spawnWriter("--shared", 3, errors("writer.err"), dataHome)), 0);
    EXPECT_EQ(testing::fileBytes(errors("writer.err")), "");

    const auto expected = dataHome / std::string(kAppId) / "norik.store";
    ASSERT_TRUE(std::filesystem::is_regular_file(expected));
    EXPECT_EQ(RawDatabase(expected).integer("SELECT count(*) FROM Correction"), 3);
}

} // namespace
} // namespace norik::core
