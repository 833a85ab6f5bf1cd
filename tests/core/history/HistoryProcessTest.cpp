// SPDX-License-Identifier: GPL-3.0-or-later
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
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

class HistoryProcessTest : public ::testing::Test {
protected:
    [[nodiscard]] std::string file() const { return (m_folder.path() / "norik.store").string(); }

    // The writer program on `target` (a store file or "--shared"); 0 reviews means until killed. The first
    // of duplicate variables wins, so the data folder is this test's.
    [[nodiscard]] test::Launch writer(const std::string& target, int reviews) const {
        test::Launch launch;
        launch.arguments = {NORIK_HISTORY_WRITER, target, std::to_string(reviews)};
        launch.environment = {"XDG_DATA_HOME=" + (m_folder.path() / "data").string()};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            launch.environment.emplace_back(*variable);
        }
        return launch;
    }

    testing::TempFolder m_folder;
};

TEST_F(HistoryProcessTest, TwoProcessesWriteIntoOneNewFileAtOnce) {
    constexpr int kReviews = 400;
    test::ChildProcess first{writer(file(), kReviews)};
    test::ChildProcess second{writer(file(), kReviews)};
    for (test::ChildProcess* child : {&first, &second}) {
        const test::Outcome ended = child->finish();
        EXPECT_EQ(ended.exitCode, 0);
        EXPECT_EQ(ended.err, "");
    }

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

    RawDatabase raw{file()};
    EXPECT_EQ(raw.text("PRAGMA integrity_check"), "ok");
    const std::int64_t corrections = raw.integer("SELECT count(*) FROM Correction");
    EXPECT_GE(corrections, 40);
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern"), 2 * corrections);
}

// Each writer reports the problem once, however many reviews it records, and names the file.
TEST_F(HistoryProcessTest, ADamagedFileOrAFailingWriteIsReportedOnceAndRolledBack) {
    testing::writeFile(file(), testing::garbage());
    const test::Outcome damaged = test::runProcess(writer(file(), 3));
    EXPECT_EQ(tests::occurrences(damaged.err, file()), 1U) << damaged.err;
    EXPECT_EQ(testing::readFile(file()), testing::garbage());

    std::filesystem::remove(file());
    {
        NorikStore store{file()};
        HistoryStore{store}.record(testing::reviewWithCategories({"grammar"}), "before", 10);
    }
    RawDatabase raw{file()};
    raw.execute("DROP TABLE Correction");
    const test::Outcome failing = test::runProcess(writer(file(), 3));
    EXPECT_EQ(tests::occurrences(failing.err, file()), 1U) << failing.err;
    // The counters were bumped before the review failed to store, and went back with it.
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern WHERE category = 'grammar'"), 1);
}

TEST_F(HistoryProcessTest, TheSharedStoreIsCreatedUnderXdgDataHome) {
    EXPECT_EQ(test::runProcess(writer("--shared", 3)).err, "");
    EXPECT_EQ(RawDatabase(m_folder.path() / "data" / kAppId / "norik.store").integer("SELECT count(*) FROM Correction"),
              3);
}

} // namespace
} // namespace norik::core
