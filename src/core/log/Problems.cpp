// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/log/Problems.h"

#include <mutex>
#include <utility>

#include <cstdio>

namespace norik::core {

namespace {

std::mutex g_lock;
ProblemSink g_sink;

} // namespace

void setProblemSink(ProblemSink sink) {
    const std::scoped_lock lock(g_lock);
    g_sink = std::move(sink);
}

void reportProblem(const Problem& problem) {
    ProblemSink sink;
    {
        const std::scoped_lock lock(g_lock);
        sink = g_sink;
    }
    if (sink) {
        sink(problem);
        return;
    }
    const std::string line = problem.line + '\n';
    std::fputs(line.c_str(), stderr);
}

} // namespace norik::core
