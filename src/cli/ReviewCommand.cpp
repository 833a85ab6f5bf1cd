// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ReviewCommand.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

#include "cli/Input.h"
#include "cli/Output.h"
#include "core/text/Text.h"
#include "core/tutor/TutorService.h"

namespace norik::cli {

namespace {

// As many as the app asks the model to look out for.
constexpr std::int64_t kFrequentCategories = 5;

struct Reviewed {
    core::TutorResult result;
    core::PreparedText prepared;
};

std::expected<std::string, CommandError> fromRead(std::expected<std::string, ReadError> read, Context& context) {
    if (read) {
        return *std::move(read);
    }
    if (read.error().kind == ReadError::Kind::interrupted) {
        return std::unexpected(interrupted(context.interrupts));
    }
    return std::unexpected(failure(read.error().message));
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text.append(text.empty() ? "" : " ").append(word);
    }
    return text;
}

std::expected<std::string, CommandError> capturedText(const ReviewOptions& options, Context& context) {
    if (!options.words.empty()) {
        return joined(options.words);
    }
    const int stop = context.interrupts.stopDescriptor();
    if (!options.file.empty()) {
        const int file = ::open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) {
            return std::unexpected(usageError("cannot open " + options.file + ": " + std::strerror(errno)));
        }
        auto text = fromRead(readReviewInput(file, stop), context);
        ::close(file);
        return text;
    }
    if (context.console.inputIsTerminal && context.console.errorsIsTerminal) {
        context.console.err << "Type or paste the text to review, then press Ctrl+D.\n";
    }
    return fromRead(readReviewInput(context.console.input, stop), context);
}

// Everything up to the model's answer, all of it cancellable: a signal ends the read or the request.
std::expected<Reviewed, CommandError> review(const ReviewOptions& options, Context& context) {
    Interrupts::Scope cancellable{context.interrupts};
    auto captured = capturedText(options, context);
    if (!captured) {
        return std::unexpected(captured.error());
    }
    auto prepared = core::prepareReviewText(*captured);
    if (!prepared) {
        return std::unexpected(usageError("nothing to review: the text is empty"));
    }
    // The clients would send replacement characters instead, and the review would be of another text.
    if (!core::text::isValidUtf8(prepared->text)) {
        return std::unexpected(usageError("the text is not valid UTF-8; convert it first, for example with iconv"));
    }

    core::NorikStore& store = context.stores.norikStore();
    const std::vector<std::string> frequent =
        store.isAvailable() ? context.stores.history().topCategories(kFrequentCategories) : std::vector<std::string>{};
    const core::Preferences::Snapshot snapshot = reviewSnapshot(options, context.stores);

    std::optional<std::expected<core::TutorResult, core::ReviewError>> result;
    if (!context.interrupts.stopRequested()) {
        std::optional<Spinner> spinner;
        if (context.console.errorsIsTerminal) {
            spinner.emplace("Reviewing…");
        }
        result = core::TutorService().review(prepared->text, snapshot, frequent, context.interrupts.token());
    }
    // Checked whatever the outcome: the cloud clients report a cancelled transfer as an unreachable service.
    if (context.interrupts.stopRequested()) {
        if (context.console.errorsIsTerminal) {
            context.console.err << "\n";
        }
        return std::unexpected(interrupted(context.interrupts));
    }
    if (!*result) {
        return std::unexpected(CommandError{kExitFailure, result->error().userMessage()});
    }
    return Reviewed{std::move(**result), *std::move(prepared)};
}

} // namespace

core::Preferences::Snapshot reviewSnapshot(const ReviewOptions& options, Stores& stores) {
    core::Preferences& preferences = stores.preferences();
    core::Preferences::Snapshot snapshot = preferences.snapshot();
    if (options.provider && *options.provider != snapshot.provider) {
        snapshot.provider = *options.provider;
        snapshot.model = preferences.model(snapshot.provider);
    }
    snapshot.apiKey = core::storedOrEnvironmentApiKey(stores.secrets(), snapshot.provider);
    if (options.model) {
        snapshot.model = *options.model;
    }
    if (options.endpoint) {
        snapshot.localEndpoint = *options.endpoint;
    }
    if (options.language) {
        snapshot.explanationLanguage = *options.language;
    }
    return snapshot;
}

CommandResult runReview(const ReviewOptions& options, Context& context) {
    auto reviewed = review(options, context);
    if (!reviewed) {
        return std::unexpected(reviewed.error());
    }
    if (!options.noHistory) {
        // A failure has already been reported on standard error, once per run; the review itself stands.
        static_cast<void>(context.stores.history().record(reviewed->result, reviewed->prepared.text,
                                                          context.stores.preferences().retentionLimit()));
    }
    if (options.json) {
        context.console.out << core::toJson(reviewed->result) << "\n";
        if (reviewed->prepared.note) {
            context.console.err << *reviewed->prepared.note << "\n";
        }
    } else {
        context.console.out << formatReview(reviewed->result, reviewed->prepared.note, context.console.style);
    }
    context.console.out.flush();
    return {};
}

} // namespace norik::cli
