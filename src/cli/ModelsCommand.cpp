// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ModelsCommand.h"

#include <vector>

#include "core/preferences/Preferences.h"
#include "core/providers/ProviderCatalogue.h"

namespace norik::cli {

namespace {

using core::LLMProvider;

struct Listing {
    std::vector<std::string> models;
    std::string hint; // why it may be empty
};

std::expected<Listing, CommandError> listing(const ModelsOptions& options, Context& context) {
    core::Preferences& preferences = context.stores.preferences();
    const LLMProvider provider = options.provider.value_or(preferences.snapshot().provider);
    if (!core::providerInfo(provider).takesApiKey()) {
        const std::string endpoint = options.endpoint.value_or(preferences.snapshot().localEndpoint);
        Interrupts::Scope cancellable{context.interrupts};
        return Listing{core::listModels(provider, {}, endpoint, context.interrupts.token()),
                       "no models found at " + endpoint + ". Is Ollama running there? Get one with `ollama pull`."};
    }
    const std::string label(core::displayLabel(provider));
    const std::string key = core::storedOrEnvironmentApiKey(context.stores.secrets(), provider);
    if (key.empty()) {
        return std::unexpected(failure("no API key for " + label + ": run `norik key set " +
                                       std::string(core::rawValue(provider)) + "` or set " +
                                       std::string(core::providerInfo(provider).apiKeyVariable)));
    }
    Interrupts::Scope cancellable{context.interrupts};
    auto models = core::listModels(provider, key, {}, context.interrupts.token());
    return Listing{std::move(models), "no models listed by " + label + ". Check the API key and the connection."};
}

} // namespace

CommandResult runModels(const ModelsOptions& options, Context& context) {
    const auto listed = listing(options, context);
    if (context.interrupts.stopRequested()) {
        return std::unexpected(interrupted(context.interrupts));
    }
    if (!listed) {
        return std::unexpected(listed.error());
    }
    if (listed->models.empty()) {
        return std::unexpected(failure(listed->hint));
    }
    for (const std::string& model : listed->models) {
        context.console.out << model << "\n";
    }
    return {};
}

} // namespace norik::cli
