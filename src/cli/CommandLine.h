// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norik::cli {

// The whole `norik` program: parses the arguments, runs the command on the process's standard streams and
// returns the exit code (0 success, 1 failure, 2 usage error, 128 + signal when interrupted). Without a
// command it prints the help.
[[nodiscard]] int run(int argc, const char* const* argv);

} // namespace norik::cli
