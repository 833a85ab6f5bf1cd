// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/HistoryCommand.h"

#include <string>

#include "cli/Input.h"
#include "cli/Output.h"
#include "core/text/Text.h"

namespace norik::cli {

namespace {

// The store printed why it is unavailable when it was opened.
CommandResult unavailable() {
    return std::unexpected(CommandError{kExitFailure, {}});
}

// True for "y" or "yes" in any case; anything else, an empty line included, keeps the history.
std::expected<bool, CommandError> confirmClear(Context& context) {
    Console& console = context.console;
    Interrupts::Scope cancellable{context.interrupts};
    console.err << "Clear all stored corrections and mistake stats? [y/N] " << std::flush;
    const auto answer = readLine(console.input, context.interrupts.stopDescriptor());
    if (!answer) {
        if (answer.error().kind == ReadError::Kind::failed) {
            return std::unexpected(failure(answer.error().message));
        }
        console.err << "\n";
        return std::unexpected(interrupted(context.interrupts));
    }
    const std::string folded = core::text::lowercased(core::text::trimmed(*answer));
    return folded == "y" || folded == "yes";
}

} // namespace

CommandResult runHistory(const HistoryOptions& options, Context& context) {
    if (!context.stores.norikStore().isAvailable()) {
        return unavailable();
    }
    const auto corrections = context.stores.history().recentCorrections(options.limit);
    if (options.json) {
        context.console.out << historyJson(corrections);
    } else if (corrections.empty()) {
        context.console.err << "No reviews stored yet.\n";
    } else {
        context.console.out << formatHistory(corrections, context.console.style);
    }
    return {};
}

CommandResult runHistoryClear(bool confirmed, Context& context) {
    if (!context.stores.norikStore().isAvailable()) {
        return unavailable();
    }
    if (!confirmed) {
        if (!context.console.inputIsTerminal) {
            return std::unexpected(
                usageError("standard input is not a terminal, so nobody can confirm; pass --yes to clear the history"));
        }
        const auto confirmation = confirmClear(context);
        if (!confirmation) {
            return std::unexpected(confirmation.error());
        }
        if (!*confirmation) {
            context.console.err << "Nothing was cleared.\n";
            return {};
        }
    }
    core::HistoryStore& history = context.stores.history();
    history.clearAll();
    // clearAll reports a failure only on standard error; what is left tells whether it worked.
    if (!history.recentCorrections(1).empty() || !history.allCategoryCounts().empty()) {
        return std::unexpected(failure("the history could not be cleared"));
    }
    context.console.out << "Cleared all stored corrections and mistake stats.\n";
    return {};
}

CommandResult runStats(bool json, Context& context) {
    if (!context.stores.norikStore().isAvailable()) {
        return unavailable();
    }
    const auto counts = context.stores.history().allCategoryCounts();
    if (json) {
        context.console.out << statsJson(counts);
    } else if (counts.empty()) {
        context.console.err << "No mistakes counted yet.\n";
    } else {
        context.console.out << formatStats(counts, context.console.style);
    }
    return {};
}

} // namespace norik::cli
