// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "core/preferences/SettingsStore.h"

// Whatever the settings file holds, reading it never fails hard and a write afterwards is read back.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("norik-fuzz-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto file = folder / "settings.json";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    norik::core::SettingsStore store{file};
    for (const auto& [key, value] : store.all()) {
        if (store.value(key) != value) {
            std::abort();
        }
    }
    if (store.set("fuzz", std::int64_t{7}) && store.integer("fuzz") != 7) {
        std::abort();
    }
    std::filesystem::remove_all(folder);
    return 0;
}
