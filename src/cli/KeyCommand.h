// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/Command.h"
#include "core/providers/LLMProvider.h"

// API keys only ever come from standard input and go to the secret store; no command prints one.
namespace norik::cli {

// One line from standard input (not echoed on a terminal) stored as the provider's key.
[[nodiscard]] CommandResult runKeySet(core::LLMProvider provider, Context& context);
[[nodiscard]] CommandResult runKeyClear(core::LLMProvider provider, Context& context);
// For each cloud provider: whether a key is stored, and whether its environment variable would be used.
[[nodiscard]] CommandResult runKeyStatus(Context& context);

} // namespace norik::cli
