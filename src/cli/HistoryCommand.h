// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "cli/Command.h"

// The review history and the mistake counters. When the store cannot be opened it has already said so on
// standard error, and these commands fail without repeating it.
namespace norik::cli {

struct HistoryOptions {
    std::int64_t limit = 20;
    bool json = false;
};

// Stored reviews, newest first.
[[nodiscard]] CommandResult runHistory(const HistoryOptions& options, Context& context);
// Without `confirmed`, asks on a terminal and refuses when standard input is not one.
[[nodiscard]] CommandResult runHistoryClear(bool confirmed, Context& context);
// Every counted category, most frequent first.
[[nodiscard]] CommandResult runStats(bool json, Context& context);

} // namespace norik::cli
