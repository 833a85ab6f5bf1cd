// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "cli/Command.h"

namespace norik::cli {

// Every settings key with its current value, or its default when none is stored.
[[nodiscard]] CommandResult runConfigList(Context& context);
// The value the app would use: the stored one, else the default.
[[nodiscard]] CommandResult runConfigGet(const std::string& key, Context& context);
// Refuses an unknown key (listing the known ones) and a value of the wrong type.
[[nodiscard]] CommandResult runConfigSet(const std::string& key, const std::string& value, Context& context);
// Back to the default.
[[nodiscard]] CommandResult runConfigUnset(const std::string& key, Context& context);

} // namespace norik::cli
