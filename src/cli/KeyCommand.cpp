// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/KeyCommand.h"

#include <string>

#include "cli/Input.h"
#include "core/providers/ProviderCatalogue.h"
#include "core/text/Text.h"

namespace norik::cli {

namespace {

using core::LLMProvider;

std::string label(LLMProvider provider) {
    return std::string(core::displayLabel(provider));
}

std::expected<std::string, CommandError> readKey(LLMProvider provider, Context& context) {
    Console& console = context.console;
    Interrupts::Scope cancellable{context.interrupts};
    std::expected<std::string, ReadError> line;
    {
        // Echo goes off before the prompt shows, so nothing typed after the prompt can appear.
        const EchoOff quiet{console.input};
        if (console.inputIsTerminal) {
            console.err << "API key for " << label(provider) << ": " << std::flush;
        }
        line = readLine(console.input, context.interrupts.stopDescriptor());
    }
    if (!line) {
        if (line.error().kind == ReadError::Kind::failed) {
            return std::unexpected(failure(line.error().message));
        }
        if (console.errorsIsTerminal) {
            console.err << "\n";
        }
        return std::unexpected(interrupted(context.interrupts));
    }
    if (line->empty()) {
        return std::unexpected(usageError("the API key is empty; nothing was stored"));
    }
    if (!core::text::isValidUtf8(*line)) {
        return std::unexpected(usageError("the API key is not valid UTF-8; nothing was stored"));
    }
    return *std::move(line);
}

} // namespace

CommandResult runKeySet(LLMProvider provider, Context& context) {
    const auto key = readKey(provider, context);
    if (!key) {
        return std::unexpected(key.error());
    }
    core::SecretStore& secrets = context.stores.secrets();
    const std::string account = std::string(core::providerInfo(provider).apiKeyAccount);
    // Read back too: a keyring may accept an item it then does not return.
    if (!secrets.store(*key, account) || secrets.read(account) != *key) {
        return std::unexpected(failure("could not store the API key for " + label(provider)));
    }
    context.console.out << "Stored the API key for " << label(provider) << ".\n";
    return {};
}

CommandResult runKeyClear(LLMProvider provider, Context& context) {
    core::SecretStore& secrets = context.stores.secrets();
    const std::string account = std::string(core::providerInfo(provider).apiKeyAccount);
    if (!secrets.read(account)) {
        context.console.out << "No API key is stored for " << label(provider) << ".\n";
        return {};
    }
    if (!secrets.store("", account) || secrets.read(account)) {
        return std::unexpected(failure("could not remove the API key for " + label(provider)));
    }
    context.console.out << "Removed the API key for " << label(provider) << ".\n";
    return {};
}

CommandResult runKeyStatus(Context& context) {
    for (const LLMProvider provider : core::providersTakingAKey()) {
        const bool stored =
            context.stores.secrets().read(std::string(core::providerInfo(provider).apiKeyAccount)).has_value();
        const std::string variable(core::providerInfo(provider).apiKeyVariable);
        const bool inEnvironment = !environmentApiKey(provider).empty();
        std::string line = label(provider) + ": ";
        if (stored) {
            line += "stored";
            if (inEnvironment) {
                line += " (used rather than " + variable + ")";
            }
        } else if (inEnvironment) {
            line += "not stored; " + variable + " from the environment is used";
        } else {
            line += "not stored (norik key set " + std::string(core::rawValue(provider)) + ", or set " + variable + ")";
        }
        context.console.out << line << "\n";
    }
    return {};
}

} // namespace norik::cli
