// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/AutostartSwitch.h"

#include <filesystem>
#include <fstream>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "SettingsTesting.h"

namespace norik::app {
namespace {

using testing::waitUntil;

class AutostartSwitchTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    std::filesystem::path m_folder = std::filesystem::path(m_dir.path().toStdString()) / "autostart";
    std::filesystem::path m_entry = m_folder / "dev.norik.Norik.desktop";
    AutostartSwitch m_switch{platform::Autostart(m_entry, "/usr/bin/norik")};
};

TEST_F(AutostartSwitchTest, ClicksWriteAndRemoveTheEntryAndAnEntryRemovedByHandShowsAsOff) {
    m_switch.show();
    EXPECT_EQ(m_switch.text(), QStringLiteral("Start Norik at login"));
    EXPECT_FALSE(m_switch.isChecked());

    QTest::mouseClick(&m_switch, Qt::LeftButton);
    EXPECT_TRUE(m_switch.isChecked());
    EXPECT_TRUE(std::filesystem::exists(m_entry));

    std::filesystem::remove(m_entry);
    EXPECT_TRUE(waitUntil([this] { return !m_switch.isChecked(); }));

    QTest::mouseClick(&m_switch, Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(m_entry));
    QTest::mouseClick(&m_switch, Qt::LeftButton);
    EXPECT_FALSE(m_switch.isChecked());
    EXPECT_FALSE(std::filesystem::exists(m_entry));
}

TEST_F(AutostartSwitchTest, AnEntryThatCannotBeWrittenLeavesTheSwitchOffAndSaysWhy) {
    std::ofstream(m_folder) << "a file where the folder belongs";
    m_switch.show();
    QTest::mouseClick(&m_switch, Qt::LeftButton);
    EXPECT_FALSE(m_switch.isChecked());
    EXPECT_TRUE(m_switch.toolTip().contains(QString::fromStdString(m_folder.string())))
        << m_switch.toolTip().toStdString();
}

} // namespace
} // namespace norik::app
