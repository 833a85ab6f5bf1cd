// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Command.h"

namespace norik::cli {

namespace {

std::string prefixed(std::string_view message) {
    std::string line = "norik: ";
    line.append(message);
    return line;
}

} // namespace

CommandError usageError(std::string_view message) {
    return {kExitUsage, prefixed(message)};
}

CommandError failure(std::string_view message) {
    return {kExitFailure, prefixed(message)};
}

CommandError interrupted(const Interrupts& interrupts) {
    return {interrupts.exitCode(), {}};
}

} // namespace norik::cli
