// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/AutostartSwitch.h"

#include <filesystem>

#include <QTest>
#include <gtest/gtest.h>

#include "app/QtWait.h"

#include "support/TestFiles.h"

namespace norik::app {
namespace {

TEST(AutostartSwitchTest, ClicksWriteAndRemoveTheEntryAndTheSwitchShowsWhatIsOnDisk) {
    const tests::TemporaryFolder folder;
    const std::filesystem::path entry = folder.path() / "autostart" / "dev.norik.Norik.desktop";
    AutostartSwitch toggle{platform::Autostart(entry, "/usr/bin/norik")};
    tests::writeFile(entry.parent_path(), "a file where the folder belongs");
    toggle.show();
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked()) << "an entry that cannot be written leaves the switch off";
    EXPECT_TRUE(toggle.toolTip().contains(QString::fromStdString(entry.parent_path().string())));

    std::filesystem::remove(entry.parent_path());
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_TRUE(std::filesystem::exists(entry));
    std::filesystem::remove(entry);
    EXPECT_TRUE(norik::tests::waitUntil([&] { return !toggle.isChecked(); })) << "removed by hand";
    QTest::mouseClick(&toggle, Qt::LeftButton);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(std::filesystem::exists(entry));
}

} // namespace
} // namespace norik::app
