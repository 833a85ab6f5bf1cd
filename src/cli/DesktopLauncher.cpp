// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/DesktopLauncher.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <dlfcn.h>

#include "platform/instance/InstanceClient.h"

namespace norik::cli {
namespace {

constexpr const char* kModuleName = "libnorik-desktop.so";
constexpr const char* kEntryPoint = "norik_run_desktop";
using Entry = int (*)(int, char**);

// Next to the executable in a build tree; the installed place relative to it otherwise.
std::vector<std::filesystem::path> moduleCandidates() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const std::filesystem::path folder = executable.parent_path();
    return {folder / kModuleName, folder / NORIK_DESKTOP_MODULE_FROM_BINDIR / kModuleName};
}

} // namespace

int launchDesktop(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY"); // NOLINT(concurrency-mt-unsafe): read before any thread starts
    if (display == nullptr || *display == '\0') {
        std::cerr << "norik: no X11 display (DISPLAY is not set). The tray app needs an X11 session; "
                     "in a terminal, use `norik review` instead (see `norik --help`).\n";
        return EXIT_FAILURE;
    }
    // One Norik per user: when one runs (or is starting), it opens its settings and this process is done,
    // before Qt is loaded. The tray app's own claim settles a race between two that both get past here.
    const char* startupId = std::getenv("DESKTOP_STARTUP_ID"); // NOLINT(concurrency-mt-unsafe): as above
    const auto handedOver = platform::handOverToRunningInstance(startupId != nullptr ? startupId : "");
    if (!handedOver) {
        std::cerr << "norik: " << handedOver.error() << ".\n";
        return EXIT_FAILURE;
    }
    if (*handedOver) {
        return EXIT_SUCCESS;
    }

    std::string failure = "not found";
    for (const std::filesystem::path& candidate : moduleCandidates()) {
        std::error_code error;
        if (!std::filesystem::exists(candidate, error)) {
            continue;
        }
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            failure = dlerror();
            continue;
        }
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dlsym hands out functions as void*
        if (auto entry = reinterpret_cast<Entry>(dlsym(module, kEntryPoint))) {
            return entry(argc, argv);
        }
        failure = std::string(kEntryPoint) + " is missing from " + candidate.string();
    }
    std::cerr << "norik: the tray app is not installed (" << kModuleName << ": " << failure
              << "). In a terminal, use `norik review` instead (see `norik --help`).\n";
    return EXIT_FAILURE;
}

} // namespace norik::cli
