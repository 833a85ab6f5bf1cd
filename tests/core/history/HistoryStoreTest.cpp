// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history/HistoryStore.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HistoryTestSupport.h"

#include "core/AppInfo.h"
#include "core/history/NorikStore.h"

namespace norik::core {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RawDatabase;
using testing::reviewWithCategories;

class HistoryStoreTest : public ::testing::Test {
protected:
    [[nodiscard]] std::filesystem::path file() const { return m_folder.path() / "norik.store"; }

    testing::TempFolder m_folder;
};

std::vector<std::string> sources(const std::vector<StoredCorrection>& corrections) {
    std::vector<std::string> result;
    for (const StoredCorrection& correction : corrections) {
        result.push_back(correction.source);
    }
    return result;
}

std::vector<std::pair<std::string, std::int64_t>> counts(const HistoryStore& history) {
    std::vector<std::pair<std::string, std::int64_t>> result;
    for (const CategoryCount& pattern : history.allCategoryCounts()) {
        result.emplace_back(pattern.category, pattern.count);
    }
    return result;
}

TEST_F(HistoryStoreTest, CountsEveryIssueOnceUnderItsNormalisedCategory) {
    NorikStore store{file()};
    ASSERT_TRUE(store.isAvailable()) << store.unavailableReason();
    HistoryStore history{store};

    const Timestamp before = currentTimestamp();
    history.record(reviewWithCategories({"Grammar", " grammar ", "Word Choice", "typo/spelling", "tone?"}), "s", 10);
    const Timestamp after = currentTimestamp();
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 2}, std::pair{"word-choice", 1},
                                             std::pair{"spelling", 1}, std::pair{"other", 1}));
    for (const CategoryCount& pattern : history.allCategoryCounts()) {
        EXPECT_GE(pattern.lastSeen, before);
        EXPECT_LE(pattern.lastSeen, after);
    }

    history.record(reviewWithCategories({"GRAMMAR", "word-choice"}), "t", 10);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 3}, std::pair{"word-choice", 2},
                                             std::pair{"spelling", 1}, std::pair{"other", 1}));
}

TEST_F(HistoryStoreTest, BumpsOnlyTheFirstMatchingCounterAndSaturates) {
    { NorikStore created{file()}; }
    RawDatabase raw{file()};
    raw.execute("INSERT INTO MistakePattern (category, count, lastSeen) VALUES ('grammar', 9223372036854775806, 0)");
    raw.execute("INSERT INTO MistakePattern (category, count, lastSeen) VALUES ('grammar', 5, 0)");

    NorikStore store{file()};
    HistoryStore history{store};
    history.record(reviewWithCategories({"grammar", "grammar", "grammar"}), "s", 10);

    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern ORDER BY rowid LIMIT 1"),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_GT(raw.integer("SELECT lastSeen FROM MistakePattern ORDER BY rowid LIMIT 1"), 0);
    EXPECT_EQ(raw.integer("SELECT count FROM MistakePattern ORDER BY rowid LIMIT 1 OFFSET 1"), 5);
    EXPECT_EQ(raw.integer("SELECT lastSeen FROM MistakePattern ORDER BY rowid LIMIT 1 OFFSET 1"), 0);
}

TEST_F(HistoryStoreTest, ClearAllEmptiesBothTablesAndCountingStartsAnew) {
    NorikStore store{file()};
    HistoryStore history{store};
    history.record(reviewWithCategories({"grammar", "spelling"}), "one", 10);
    history.record(reviewWithCategories({"grammar"}), "two", 10);

    history.clearAll();
    EXPECT_THAT(history.topCategories(5), IsEmpty());
    EXPECT_THAT(history.recentCorrections(5), IsEmpty());
    RawDatabase raw{file()};
    EXPECT_EQ(raw.integer("SELECT count(*) FROM Correction") + raw.integer("SELECT count(*) FROM MistakePattern"), 0);

    history.record(reviewWithCategories({"grammar"}), "three", 10);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 1}));
    EXPECT_THAT(sources(history.recentCorrections(5)), ElementsAre("three"));
}

TEST_F(HistoryStoreTest, RetentionBoundsTheStoredReviews) {
    NorikStore store{file()};
    HistoryStore history{store};
    RawDatabase raw{file()};

    history.record(reviewWithCategories({"grammar"}), "none", 0);
    history.record(reviewWithCategories({"grammar"}), "negative", -3);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM Correction"), 0);
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"grammar", 2}));

    for (const char* source : {"one", "two", "three", "four"}) {
        history.record(reviewWithCategories({"spelling"}), source, 3);
    }
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("four", "three", "two"));

    history.record(reviewWithCategories({}), "five", 50);
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("five", "four", "three", "two"));
    EXPECT_THAT(sources(history.recentCorrections(2)), ElementsAre("five", "four"));
    EXPECT_THAT(history.recentCorrections(0), IsEmpty());
}

TEST_F(HistoryStoreTest, StoresEveryFieldOfTheReview) {
    NorikStore store{file()};
    HistoryStore history{store};
    const TutorResult result{
        .language = "de", .corrected = "Ich bin müde.", .improved = "Ich bin erschöpft.", .issues = {}, .score = -12};

    const Timestamp before = currentTimestamp();
    history.record(result, "Ich bin mude.", 5);
    const Timestamp after = currentTimestamp();

    const auto stored = history.recentCorrections(1);
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(stored[0].language, "de");
    EXPECT_EQ(stored[0].source, "Ich bin mude.");
    EXPECT_EQ(stored[0].corrected, "Ich bin müde.");
    EXPECT_EQ(stored[0].improved, "Ich bin erschöpft.");
    EXPECT_EQ(stored[0].score, -12);
    EXPECT_GE(stored[0].createdAt, before);
    EXPECT_LE(stored[0].createdAt, after);
}

TEST_F(HistoryStoreTest, EqualTimesKeepTheEarlierStoredReviews) {
    { NorikStore created{file()}; }
    RawDatabase raw{file()};
    // Far in the future, so these three are the newest and tie with each other.
    for (const char* source : {"a", "b", "c"}) {
        raw.execute(std::string("INSERT INTO Correction (createdAt, source) VALUES (32503680000000000, '") + source +
                    "')");
    }
    NorikStore store{file()};
    HistoryStore history{store};
    history.record(reviewWithCategories({}), "d", 2);
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("a", "b"));
}

TEST_F(HistoryStoreTest, TopCategoriesRankByCountAndKeepInsertionOrderOnTies) {
    NorikStore store{file()};
    HistoryStore history{store};
    history.record(reviewWithCategories({"spelling", "spelling", "spelling", "spelling"}), "s", 10);
    history.record(reviewWithCategories({"grammar", "grammar", "grammar", "grammar"}), "g", 10);
    history.record(reviewWithCategories(std::initializer_list<std::string>{
                       "syntax", "syntax", "syntax", "syntax", "syntax", "syntax", "syntax", "syntax", "syntax"}),
                   "x", 10);

    EXPECT_THAT(history.topCategories(2), ElementsAre("syntax", "spelling"));
    EXPECT_THAT(history.topCategories(10), ElementsAre("syntax", "spelling", "grammar"));
    EXPECT_THAT(history.topCategories(0), IsEmpty());
    EXPECT_THAT(history.topCategories(-1), IsEmpty());
}

TEST_F(HistoryStoreTest, PersistsAcrossReopeningInWalMode) {
    {
        NorikStore store{file()};
        HistoryStore{store}.record(reviewWithCategories({"punctuation"}), "kept", 10);
    }
    NorikStore reopened{file()};
    HistoryStore history{reopened};
    EXPECT_THAT(counts(history), ElementsAre(std::pair{"punctuation", 1}));
    EXPECT_THAT(sources(history.recentCorrections(10)), ElementsAre("kept"));

    RawDatabase raw{file()};
    EXPECT_EQ(raw.integer("PRAGMA user_version"), 1);
    EXPECT_EQ(raw.text("PRAGMA journal_mode"), "wal");
}

TEST_F(HistoryStoreTest, DefaultLocationFollowsXdgDataHome) {
    const auto restore = [](const char* name, std::optional<std::string> value) {
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    };
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto savedXdg = saved("XDG_DATA_HOME");
    const auto savedHome = saved("HOME");

    setenv("XDG_DATA_HOME", "/data/home", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(NorikStore::defaultLocation(), std::filesystem::path("/data/home") / kAppId / "norik.store");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(NorikStore::defaultLocation(),
              std::filesystem::path("/home/someone/.local/share") / kAppId / "norik.store");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(NorikStore::defaultLocation(),
              std::filesystem::path("/home/someone/.local/share") / kAppId / "norik.store");
    unsetenv("HOME");
    EXPECT_EQ(NorikStore::defaultLocation(), std::filesystem::path());
    EXPECT_FALSE(NorikStore(NorikStore::defaultLocation()).isAvailable());

    restore("XDG_DATA_HOME", savedXdg);
    restore("HOME", savedHome);
}

TEST_F(HistoryStoreTest, CreatesMissingFolders) {
    const auto nested = m_folder.path() / "data" / std::string(kAppId) / "norik.store";
    NorikStore store{nested};
    EXPECT_TRUE(store.isAvailable()) << store.unavailableReason();
    EXPECT_TRUE(std::filesystem::is_regular_file(nested));
}

// Whatever is at the path stays as it was, and the store works as if history were off.
void expectUnavailableAndInert(NorikStore& store) {
    EXPECT_FALSE(store.isAvailable());
    EXPECT_FALSE(store.unavailableReason().empty());
    HistoryStore history{store};
    history.record(reviewWithCategories({"grammar"}), "ignored", 10);
    history.clearAll();
    EXPECT_THAT(history.topCategories(5), IsEmpty());
    EXPECT_THAT(history.recentCorrections(5), IsEmpty());
    EXPECT_THAT(history.allCategoryCounts(), IsEmpty());
}

TEST_F(HistoryStoreTest, UnusableFilesAreLeftUntouched) {
    const std::string bytes = testing::garbage();
    testing::writeFile(file(), bytes);
    {
        NorikStore damaged{file()};
        expectUnavailableAndInert(damaged);
    }
    EXPECT_EQ(testing::fileBytes(file()), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.path()), {}), 1);

    const auto newer = m_folder.path() / "newer.store";
    {
        NorikStore created{newer};
        RawDatabase(newer).execute("PRAGMA user_version = 99");
    }
    const std::string newerBytes = testing::fileBytes(newer);
    NorikStore fromTheFuture{newer};
    expectUnavailableAndInert(fromTheFuture);
    EXPECT_EQ(testing::fileBytes(newer), newerBytes);
}

TEST_F(HistoryStoreTest, FolderInTheWayOfTheFile) {
    std::filesystem::create_directory(file());
    NorikStore store{file()};
    expectUnavailableAndInert(store);
    EXPECT_NE(store.unavailableReason().find("folder"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(file()));
}

} // namespace
} // namespace norik::core
