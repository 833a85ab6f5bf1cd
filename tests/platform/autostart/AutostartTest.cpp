// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart/Autostart.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace norik::platform {
namespace {

TEST(AutostartTest, TheEntryIsValidAndItsDesktopsEditsCount) {
    const tests::TemporaryFolder folder;
    const std::filesystem::path entry = folder.path() / "config" / "autostart" / "dev.norik.Norik.desktop";
    Autostart autostart(entry, "/opt/My Apps/norik%1\"$");
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(autostart.setEnabled(true));
    const std::string written = tests::readFile(entry);
    EXPECT_NE(written.find("\nExec=\"/opt/My Apps/norik%%1\\\\\"\\\\$\"\n"), std::string::npos) << written;
    const std::string validate = std::string(DESKTOP_FILE_VALIDATE) + " '" + entry.string() + "'";
    EXPECT_EQ(std::system(validate.c_str()), 0); // NOLINT(concurrency-mt-unsafe,cert-env33-c): a fixed tool

    const struct {
        const char* edit; // appended by the desktop's settings
        bool enabled;
    } rows[] = {{"Hidden=true\n", false},
                {"X-GNOME-Autostart-enabled = false\n", false},
                {"X-GNOME-Autostart-enabled=true\n", true},
                {"\n[Desktop Action settings]\nHidden=true\n", true}};
    for (const auto& row : rows) {
        tests::writeFile(entry, written + row.edit);
        EXPECT_EQ(autostart.enabled(), row.enabled) << row.edit;
    }
    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_EQ(tests::readFile(entry), written) << "switching on again replaces an edited entry";

    // Switching off, an entry removed by hand and a write that fails are the settings window's switch test.
    ASSERT_TRUE(autostart.setEnabled(false));
    EXPECT_TRUE(autostart.setEnabled(false)) << "an absent entry is already off";
}

} // namespace
} // namespace norik::platform
