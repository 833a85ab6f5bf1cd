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
    const std::tuple<const char*, const char*, std::filesystem::path> rows[] = {
        {"/x", "/home/someone", "/x"},
        {"relative/x", "/home/someone", "/home/someone"},
        {nullptr, nullptr, account},
    };
    for (const auto& [xdg, home, base] : rows) {
        tests::ScopedEnvironment::set("XDG_CONFIG_HOME", xdg);
        tests::ScopedEnvironment::set("XDG_DATA_HOME", xdg);
        tests::ScopedEnvironment::set("HOME", home);
        const bool own = base == "/x";
        EXPECT_EQ(configHome(), own ? base : base / ".config") << base;
        EXPECT_EQ(dataHome(), own ? base : base / ".local/share") << base;
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
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    for (const std::string& unusable : {std::string("relative"), folder.path().string()}) {
        tests::ScopedEnvironment::set("XDG_RUNTIME_DIR", unusable.c_str());
        EXPECT_EQ(runtimeDirectory(), fallback) << unusable;
    }
}

} // namespace
} // namespace norik::core::xdg
