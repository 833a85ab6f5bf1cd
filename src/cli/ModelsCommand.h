// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "cli/Command.h"
#include "core/providers/LLMProvider.h"

namespace norik::cli {

struct ModelsOptions {
    std::optional<core::LLMProvider> provider; // absent: the stored one
    std::optional<std::string> endpoint;       // absent: the stored local endpoint
};

// The provider's model listing, one per line; an empty listing is a failure with a hint on what to check.
[[nodiscard]] CommandResult runModels(const ModelsOptions& options, Context& context);

} // namespace norik::cli
