// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/xdg/BaseDirectories.h"

#include <string>

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "support/TestFiles.h"

namespace norik::core::xdg {
namespace {

TEST(BaseDirectoriesTest, FollowTheEnvironmentIgnoringRelativeValuesWithThePasswordDatabaseForHome) {
    const tests::ScopedEnvironment environment{{"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"}};
    const std::filesystem::path account = ::getpwuid(::getuid())->pw_dir;
    const struct {
        const char* xdg;
        const char* home;
        std::filesystem::path config;
        std::filesystem::path data;
    } rows[] = {
        {"/x", "/home/someone", "/x", "/x"},
        {"relative/x", "/home/someone", "/home/someone/.config", "/home/someone/.local/share"},
        {nullptr, "/home/someone", "/home/someone/.config", "/home/someone/.local/share"},
        {nullptr, nullptr, account / ".config", account / ".local/share"},
    };
    for (const auto& row : rows) {
        tests::ScopedEnvironment::set("XDG_CONFIG_HOME", row.xdg);
        tests::ScopedEnvironment::set("XDG_DATA_HOME", row.xdg);
        tests::ScopedEnvironment::set("HOME", row.home);
        EXPECT_EQ(configHome(), row.config) << (row.xdg != nullptr ? row.xdg : "(unset)");
        EXPECT_EQ(dataHome(), row.data) << (row.xdg != nullptr ? row.xdg : "(unset)");
    }
}

TEST(BaseDirectoriesTest, TheRuntimeFolderMustBeAPrivateFolderOfOurs) {
    const tests::ScopedEnvironment environment{{"XDG_RUNTIME_DIR"}};
    const tests::TemporaryFolder folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
    tests::ScopedEnvironment::set("XDG_RUNTIME_DIR", folder.path().c_str());
    EXPECT_EQ(runtimeDirectory(), folder.path());
    const std::filesystem::path session = "/run/user/" + std::to_string(::geteuid());
    const auto fallback = std::filesystem::is_directory(session) ? std::optional(session) : std::nullopt;
    const std::filesystem::path shared = folder.path() / "shared";
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    for (const std::string& unusable :
         {std::string("relative"), std::string("/nonexistent/runtime"), shared.string()}) {
        tests::ScopedEnvironment::set("XDG_RUNTIME_DIR", unusable.c_str());
        EXPECT_EQ(runtimeDirectory(), fallback) << unusable;
    }
}

} // namespace
} // namespace norik::core::xdg
