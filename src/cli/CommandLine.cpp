// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <unistd.h>

#include "cli/Command.h"
#include "cli/ConfigCommand.h"
#include "cli/HistoryCommand.h"
#include "cli/InstanceCommand.h"
#include "cli/KeyCommand.h"
#include "cli/ModelsCommand.h"
#include "cli/ReviewCommand.h"
#include "cli/ShortcutCommand.h"
#include "core/BuildVersion.h"
#include "core/providers/ProviderCatalogue.h"

namespace norik::cli {

namespace {

using Action = std::function<CommandResult(Context&)>;

std::vector<std::string> rawNames(std::span<const core::LLMProvider> providers) {
    std::vector<std::string> names;
    for (const core::LLMProvider provider : providers) {
        names.emplace_back(core::rawValue(provider));
    }
    return names;
}

// A provider option: refused by the parser unless it is one of `providers`, stored typed.
CLI::Option* addProvider(CLI::App& command, const std::string& name, std::optional<core::LLMProvider>& provider,
                         std::span<const core::LLMProvider> providers, const std::string& description) {
    return command
        .add_option_function<std::string>(
            name, [&provider](const std::string& raw) { provider = core::providerFromRawValue(raw); }, description)
        ->check(CLI::IsMember(rawNames(providers)));
}

// Every command and its options, and for each command the runner to call when it was given.
struct Definitions {
    ReviewOptions review;
    ModelsOptions models;
    HistoryOptions history;
    std::string key;
    std::string value;
    std::optional<core::LLMProvider> keyProvider;
    std::vector<std::string> shortcutWords;
    bool force = false;
    bool yes = false;
    bool statsJson = false;
    std::vector<std::pair<const CLI::App*, Action>> actions; // a nested command before its parent

    void define(CLI::App& app);
    template <typename Run> void on(const CLI::App* command, Run run) { actions.emplace_back(command, run); }
};

void Definitions::define(CLI::App& app) {
    std::string version = "norik ";
    version.append(core::kBuildVersion);
    app.set_version_flag("--version", version, "Print the version and exit");
    app.require_subcommand(0, 1);

    auto* reviewCommand =
        app.add_subcommand("review", "Review a text: given as arguments, read from a file, or from standard input");
    auto* text = reviewCommand->add_option("text", review.words, "The text to review; the words are joined by spaces");
    reviewCommand->add_option("-f,--file", review.file, "Read the text from FILE")
        ->check(CLI::ExistingFile)
        ->excludes(text);
    addProvider(*reviewCommand, "--provider", review.provider, core::kAllProviders, "Use this provider for this run");
    reviewCommand->add_option("--model", review.model, "Use this model for this run");
    reviewCommand->add_option("--endpoint", review.endpoint, "Use this local server address for this run");
    reviewCommand->add_option("--language", review.language, "Write the explanations in this language for this run");
    reviewCommand->add_flag("--json", review.json, "Print the result as JSON");
    reviewCommand->add_flag("--no-history", review.noHistory, "Do not record this review in the history");
    on(reviewCommand, [this](Context& context) { return runReview(review, context); });

    auto* config = app.add_subcommand("config", "Show and change the settings");
    config->require_subcommand(1);
    on(config->add_subcommand("list", "Show every setting with its value or its default"),
       [](Context& context) { return runConfigList(context); });
    auto* get = config->add_subcommand("get", "Print the value of one setting");
    get->add_option("KEY", key, "The setting")->required();
    on(get, [this](Context& context) { return runConfigGet(key, context); });
    auto* set = config->add_subcommand("set", "Change one setting");
    set->add_option("KEY", key, "The setting")->required();
    set->add_option("VALUE", value, "Its new value")->required();
    on(set, [this](Context& context) { return runConfigSet(key, value, context); });
    auto* unset = config->add_subcommand("unset", "Return one setting to its default");
    unset->add_option("KEY", key, "The setting")->required();
    on(unset, [this](Context& context) { return runConfigUnset(key, context); });

    auto* keys = app.add_subcommand("key", "Store, remove or check the API keys of the cloud providers");
    keys->require_subcommand(1);
    auto* keySet = keys->add_subcommand("set", "Store the key read from standard input (not echoed on a terminal)");
    addProvider(*keySet, "PROVIDER", keyProvider, core::providersTakingAKey(), "anthropic or openAI")->required();
    on(keySet, [this](Context& context) { return runKeySet(*keyProvider, context); });
    auto* keyClear = keys->add_subcommand("clear", "Remove the stored key");
    addProvider(*keyClear, "PROVIDER", keyProvider, core::providersTakingAKey(), "anthropic or openAI")->required();
    on(keyClear, [this](Context& context) { return runKeyClear(*keyProvider, context); });
    on(keys->add_subcommand("status", "Tell which keys are stored and which environment variables are used"),
       [](Context& context) { return runKeyStatus(context); });

    auto* modelsCommand = app.add_subcommand("models", "List the models of a provider");
    addProvider(*modelsCommand, "--provider", models.provider, core::kAllProviders,
                "The provider (default: the one in the settings)");
    modelsCommand->add_option("--endpoint", models.endpoint, "The local server address (default: from the settings)");
    on(modelsCommand, [this](Context& context) { return runModels(models, context); });

    auto* historyCommand = app.add_subcommand("history", "List the stored reviews, newest first");
    historyCommand->require_subcommand(0, 1);
    historyCommand->add_option("--limit", history.limit, "Show at most N reviews")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    historyCommand->add_flag("--json", history.json, "Print the reviews as JSON");
    auto* clear = historyCommand->add_subcommand("clear", "Delete every stored review and every mistake count");
    clear->add_flag("--yes", yes, "Do not ask for confirmation");
    on(clear, [this](Context& context) { return runHistoryClear(yes, context); });
    on(historyCommand, [this](Context& context) { return runHistory(history, context); });

    auto* stats = app.add_subcommand("stats", "Count the mistakes of each category, most frequent first");
    stats->add_flag("--json", statsJson, "Print the counts as JSON");
    on(stats, [this](Context& context) { return runStats(statsJson, context); });

    auto* shortcut = app.add_subcommand("shortcut", "Show or change the review shortcut (default Ctrl+Alt+Space)");
    shortcut->require_subcommand(0, 1);
    auto* shortcutSet = shortcut->add_subcommand(
        "set", "Change it, e.g. `norik shortcut set Ctrl+Shift+R`: Ctrl, Alt, Shift and Super, then one key");
    shortcutSet->add_option("WORDS", shortcutWords, "The combination, as Norik shows it")->required();
    shortcutSet->add_flag("--force", force, "Use a combination the system uses too");
    on(shortcutSet, [this](Context& context) {
        std::string words;
        for (const std::string& word : shortcutWords) {
            words.append(words.empty() ? "" : " ").append(word);
        }
        return runShortcutSet(words, force, context);
    });
    on(shortcut->add_subcommand("clear", "Remove it: no key reviews the selection until one is set"),
       [](Context& context) { return runShortcutClear(context); });
    on(shortcut, [](Context& context) { return runShortcutShow(context); });

    on(app.add_subcommand("trigger", "Ask the running Norik to review the selection; bind it to a desktop shortcut"),
       [](Context&) { return runInstanceRequest(platform::InstanceRequest::trigger); });
    on(app.add_subcommand("settings", "Ask the running Norik to open its settings window"),
       [](Context&) { return runInstanceRequest(platform::InstanceRequest::settings); });

    // Set last, as subcommands copy the footer of their parent when they are added.
    app.footer("Run `norik COMMAND --help` for the options of a command.");
}

} // namespace

int run(int argc, const char* const* argv) {
    CLI::App app{"Norik reviews what you write and explains each mistake, so that you learn from it.", "norik"};
    Definitions definitions;
    definitions.define(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // CLI11 has an exit code per kind of parse error; to a caller all of them are usage errors.
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }

    // The most deeply nested command given is the one to run.
    const auto chosen =
        std::ranges::find_if(definitions.actions, [](const auto& entry) { return entry.first->parsed(); });
    if (chosen == definitions.actions.end()) {
        std::cout << app.help();
        return kExitSuccess;
    }

    Interrupts interrupts;
    Stores stores;
    Console console{std::cout,
                    std::cerr,
                    STDIN_FILENO,
                    isTerminal(STDIN_FILENO),
                    isTerminal(STDERR_FILENO),
                    Style(colourWanted(STDOUT_FILENO))};
    Context context{console, interrupts, stores};
    const CommandResult result = chosen->second(context);
    std::cout.flush();
    if (!result) {
        if (!result.error().message.empty()) {
            std::cerr << result.error().message << "\n";
        }
        return result.error().exitCode;
    }
    return kExitSuccess;
}

} // namespace norik::cli
