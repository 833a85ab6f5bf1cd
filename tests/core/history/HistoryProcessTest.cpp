// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "HistoryTestSupport.h"

#include "core/AppInfo.h"
#include "core/history/HistoryStore.h"
#include "core/history/NorikStore.h"

#include "support/ChildProcess.h"

extern char** environ;

namespace norik::core {
namespace {

using testing::RawDatabase;

// The writer program on `target` (a store file or "--shared"); 0 reviews means until killed.
test::Launch writer(const std::string& target, int reviews, const std::string& dataHome = {}) {
    test::Launch launch;
    launch.arguments = {NORIK_HISTORY_WRITER, target, std::to_string(reviews)};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (dataHome.empty() || !std::string_view(*variable).starts_with("XDG_DATA_HOME=")) {
            launch.environment.emplace_back(*variable);
        }
    }
    if (!dataHome.empty()) {
        launch.environment.push_back("XDG_DATA_HOME=" + dataHome);
    }
    return launch;
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class HistoryProcessTest : public ::testing::Test {
protected:
    [[nodiscard]] std::string file() const { return (m_folder.path() / "norik.store").string(); }

    testing::TempFolder m_folder;
};

TEST_F(HistoryProcessTest, TwoProcessesWriteIntoOneNewFileAtOnce) {
    constexpr int kReviews = 400;
    test::ChildProcess first{writer(file(), kReviews)};
    test::ChildProcess second{writer(file(), kReviews)};
    const test::Outcome firstEnded = first.finish();
    const test::Outcome secondEnded = second.finish();
    EXPECT_EQ(firstEnded.exitCode, 0);
    EXPECT_EQ(secondEnded.exitCode, 0);
    EXPECT_EQ(firstEnded.err + secondEnded.err, "");

    RawDatabase raw{file()};
    EXPECT_EQ(raw.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(raw.integer("SELECT count(DISTINCT source) FROM Correction"), 2 * kReviews);
    EXPECT_EQ(raw.text("SELECT group_concat(category || '=' || count) FROM MistakePattern"),
              "grammar=" + std::to_string(2 * 2 * kReviews));
}

TEST_F(HistoryProcessTest, AKilledWriterLeavesOnlyWholeReviews) {
    test::ChildProcess killed{writer(file(), 0)};
    ASSERT_TRUE(killed.waitForErrors("stored 40\n")) << "the writer stored too little";
    ASSERT_EQ(::kill(killed.pid(), SIGKILL), 0);
    EXPECT_EQ(killed.finish().exitCode, -1);

    EXPECT_EQ(RawDatabase(file()).text("PRAGMA integrity_check"), "ok");
    NorikStore store{file()};
    ASSERT_TRUE(store.isAvailable()) << store.unavailableReason();
    HistoryStore history{store};
    const auto corrections = static_cast<std::int64_t>(history.recentCorrections(1'000'000).size());
    const auto categories = history.allCategoryCounts();
    ASSERT_EQ(categories.size(), 1U);
    EXPECT_GE(corrections, 40);
    EXPECT_EQ(categories[0].count, 2 * corrections);
}

TEST_F(HistoryProcessTest, ADamagedFileOrAFailingWriteIsReportedOnceAndRolledBack) {
    const std::string bytes = testing::garbage();
    testing::writeFile(file(), bytes);
    test::Outcome damaged = test::runProcess(writer(file(), 3));
    EXPECT_EQ(damaged.exitCode, 0);
    EXPECT_EQ(lineCount(damaged.err), 1U) << damaged.err;
    EXPECT_NE(damaged.err.find(file()), std::string::npos) << damaged.err;
    EXPECT_EQ(testing::readFile(file()), bytes);

    std::filesystem::remove(file());
    {
        NorikStore store{file()};
        HistoryStore{store}.record(testing::reviewWithCategories({"grammar"}), "before", 10);
    }
    RawDatabase raw{file()};
    raw.execute("DROP TABLE Correction");
    test::Outcome failing = test::runProcess(writer(file(), 3));
    EXPECT_EQ(failing.exitCode, 0);
    EXPECT_EQ(lineCount(failing.err), 1U) << failing.err;
    EXPECT_NE(failing.err.find(file()), std::string::npos) << failing.err;
    // The counters were bumped before the review failed to store, and went back with it.
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern WHERE category = 'grammar'"), 1);
}

TEST_F(HistoryProcessTest, TheSharedStoreIsCreatedUnderXdgDataHome) {
    const auto dataHome = m_folder.path() / "data";
    const test::Outcome wrote = test::runProcess(writer("--shared", 3, dataHome.string()));
    EXPECT_EQ(wrote.exitCode, 0);
    EXPECT_EQ(wrote.err, "");
    EXPECT_EQ(RawDatabase(dataHome / std::string(kAppId) / "norik.store").integer("SELECT count(*) FROM Correction"),
              3);
}

} // namespace
} // namespace norik::core
