// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace norik::core {

// Something the user must hear of, from wherever in the core it happens. The core never writes to the
// terminal itself: it reports, and the program decides how the user hears (the command line on standard
// error, the tray app as a notification and in its settings window).
struct Problem {
    enum class Kind {
        historyUnavailable, // the history store cannot be opened; `detail` is the reason
        historyFailed,      // a history write or read failed; `detail` is the reason
        keysUnencrypted,    // no Secret Service answers; the keys go to `file`
        fileSetAside,       // `file` was damaged and moved to `detail`
    };
    Kind kind = Kind::historyUnavailable;
    std::filesystem::path file;
    std::string detail;
    // The line for a terminal, without the line break.
    std::string line;
};

using ProblemSink = std::function<void(const Problem&)>;

// Replaces the sink, which until then writes each problem's line to standard error. Any thread may report;
// the sink is called on the reporting thread.
void setProblemSink(ProblemSink sink);
void reportProblem(const Problem& problem);

} // namespace norik::core
