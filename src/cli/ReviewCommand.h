// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "core/preferences/Preferences.h"

namespace norik::cli {

struct ReviewOptions {
    std::vector<std::string> words; // joined by spaces
    std::string file;               // empty: none
    std::optional<core::LLMProvider> provider;
    std::optional<std::string> model;
    std::optional<std::string> endpoint;
    std::optional<std::string> language;
    bool json = false;
    bool noHistory = false;
};

// The stored preferences with this run's overrides applied. With another provider than the stored one
// come that provider's stored model and key; a cloud provider without a stored key takes the one in its
// environment variable.
[[nodiscard]] core::Preferences::Snapshot reviewSnapshot(const ReviewOptions& options, Stores& stores);

// Reviews the text exactly as the app does, records it in the history and prints it.
[[nodiscard]] CommandResult runReview(const ReviewOptions& options, Context& context);

} // namespace norik::cli
