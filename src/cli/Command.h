// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <ostream>

#include "cli/Interrupts.h"
#include "cli/Stores.h"
#include "cli/Terminal.h"

// What every command runner gets and returns.
namespace norik::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Why a command did not succeed: its exit code and the line it leaves on standard error (none when empty).
struct CommandError {
    int exitCode = kExitFailure;
    std::string message;
};

using CommandResult = std::expected<void, CommandError>;

// "norik: <message>" with the exit code of a usage error.
[[nodiscard]] CommandError usageError(std::string_view message);
// "norik: <message>" with the exit code of a failure.
[[nodiscard]] CommandError failure(std::string_view message);
// Nothing to say, 128 + the signal.
[[nodiscard]] CommandError interrupted(const Interrupts& interrupts);

// The process's standard streams and what they are connected to.
struct Console {
    std::ostream& out;
    std::ostream& err;
    int input;
    bool inputIsTerminal;
    bool errorsIsTerminal;
    Style style; // for standard output
};

struct Context {
    Console& console;
    Interrupts& interrupts;
    Stores& stores;
};

} // namespace norik::cli
