// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace norik::core::shortcuts {

// The module's user-visible texts by key, in English and compiled into the program. An unknown key reads
// as the key itself.
[[nodiscard]] std::string_view localized(std::string_view key);

// The text under `key` with its "%@" replaced by `argument`.
[[nodiscard]] std::string localizedFormat(std::string_view key, std::string_view argument);

} // namespace norik::core::shortcuts
