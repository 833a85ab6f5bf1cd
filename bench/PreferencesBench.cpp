// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "core/preferences/Preferences.h"
#include "core/preferences/SettingsStore.h"
#include "core/providers/ProviderCatalogue.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/secret/SecretServiceStore.h"
#include "platform/secret/SecretStoreFactory.h"

namespace {

using norik::core::LLMProvider;
using norik::core::Preferences;
using norik::core::SettingsStore;

std::filesystem::path makeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norik-bench-XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
}

// A settings file holding every key, as after onboarding, in its own temporary folder.
class FilledSettings {
public:
    FilledSettings() {
        Preferences preferences{m_store, m_unused};
        for (const auto& [key, text] : {std::pair{"provider", "openAI"},
                                        {"model.anthropic", "claude-sonnet-4-5"},
                                        {"model.openAI", "gpt-4.1-mini"},
                                        {"model.local", "llama3.2"},
                                        {"localEndpoint", "http://127.0.0.1:11434"},
                                        {"explanationLanguage", "German"},
                                        {"retentionLimit", "500"},
                                        {"hasCompletedOnboarding", "true"}}) {
            m_ready = !m_folder.empty() && m_ready && preferences.setFromText(key, text).has_value();
        }
    }
    ~FilledSettings() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    FilledSettings(const FilledSettings&) = delete;
    FilledSettings& operator=(const FilledSettings&) = delete;

    [[nodiscard]] bool ready() const { return m_ready; }
    [[nodiscard]] SettingsStore& store() { return m_store; }

private:
    std::filesystem::path m_folder = makeTemporaryFolder();
    SettingsStore m_store{m_folder / "settings.json"};
    norik::platform::MemorySecretStore m_unused;
    bool m_ready = true;
};

// The real Secret Service, under a service name of its own so that the user's keys are never touched.
void snapshotWithSecretService(benchmark::State& state) {
    if (!norik::platform::secretServiceAvailable()) {
        state.SkipWithError("no Secret Service on the session bus; run under scripts/with-test-session");
        return;
    }
    FilledSettings settings;
    norik::platform::SecretServiceStore secrets("dev.norik.Norik.Bench." + std::to_string(getpid()));
    const std::string account = std::string(norik::core::providerInfo(LLMProvider::openAI).apiKeyAccount);
    const bool stored = secrets.store("sk-bench-0123456789abcdef0123456789abcdef", account).has_value();
    const Preferences preferences{settings.store(), secrets};
    if (!settings.ready() || !stored || preferences.snapshot().apiKey.empty()) {
        state.SkipWithError("could not prepare the settings file or the keyring item");
    } else {
        for (auto _ : state) {
            auto snapshot = preferences.snapshot();
            benchmark::DoNotOptimize(snapshot);
        }
    }
    static_cast<void>(secrets.store("", account));
}
BENCHMARK(snapshotWithSecretService)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The file share of a snapshot: every read opens and parses the settings file instead of caching it.
void snapshotSettingsOnly(benchmark::State& state) {
    FilledSettings settings;
    norik::platform::MemorySecretStore secrets;
    const Preferences preferences{settings.store(), secrets};
    for (auto _ : state) {
        auto snapshot = preferences.snapshot();
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(snapshotSettingsOnly)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
