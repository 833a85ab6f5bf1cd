// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart/Autostart.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <ostream>

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

class AutostartTest : public ::testing::Test {
protected:
    tests::TemporaryFolder m_folder;
    std::filesystem::path m_entry = m_folder.path() / "config" / "autostart" / "dev.norik.Norik.desktop";
};

TEST_F(AutostartTest, SwitchRoundTripsThroughTheEntryAndAHandRemovedEntryIsOff) {
    Autostart autostart(m_entry, "/opt/My Apps/norik%1\"$");
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.enabled());

    const std::string entry = tests::readFile(m_entry);
    EXPECT_NE(entry.find("\nExec=\"/opt/My Apps/norik%%1\\\\\"\\\\$\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nTryExec=/opt/My Apps/norik%1\"$\n"), std::string::npos) << entry;
    const std::string validate = std::string(DESKTOP_FILE_VALIDATE) + " '" + m_entry.string() + "'";
    EXPECT_EQ(std::system(validate.c_str()), 0); // NOLINT(concurrency-mt-unsafe,cert-env33-c): a fixed tool

    std::filesystem::remove(m_entry);
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.setEnabled(true));
    ASSERT_TRUE(autostart.setEnabled(false));
    EXPECT_FALSE(std::filesystem::exists(m_entry));
    EXPECT_TRUE(autostart.setEnabled(false)) << "an absent entry is already off";
}

TEST_F(AutostartTest, AFolderThatCannotBeMadeIsAnErrorNamingIt) {
    tests::writeFile(m_folder.path() / "config", "a file where the folder belongs");
    Autostart autostart(m_entry, "/usr/bin/norik");
    const auto result = autostart.setEnabled(true);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().find((m_folder.path() / "config").string()), std::string::npos) << result.error();
    EXPECT_FALSE(autostart.enabled());
}

struct EntryCase {
    const char* name;
    const char* desktopEdit; // appended to the entry Norik wrote
    bool enabled;
};

void PrintTo(const EntryCase& row, std::ostream* out) {
    *out << row.name;
}

class AutostartEditedEntryTest : public AutostartTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(AutostartEditedEntryTest, DesktopSettingsThatSwitchTheEntryOffAreRespected) {
    Autostart autostart(m_entry, "/usr/bin/norik");
    ASSERT_TRUE(autostart.setEnabled(true));
    tests::writeFile(m_entry, tests::readFile(m_entry) + GetParam().desktopEdit);
    EXPECT_EQ(autostart.enabled(), GetParam().enabled);

    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.enabled()) << "switching on again replaces the edited entry";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutostartEditedEntryTest,
    ::testing::Values(EntryCase{"HiddenIsOff", "Hidden=true\n", false},
                      EntryCase{"GnomeSwitchedOffIsOff", "X-GNOME-Autostart-enabled = false\n", false},
                      EntryCase{"GnomeSwitchedOnIsOn", "X-GNOME-Autostart-enabled=true\n", true},
                      EntryCase{"HiddenInAnotherGroupIsOn", "\n[Desktop Action settings]\nHidden=true\n", true}),
    [](const ::testing::TestParamInfo<EntryCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace norik::platform
