// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <benchmark/benchmark.h>

#include "core/tutor/TutorService.h"

namespace {

// A reply of about 3 KB (twelve issues), shaped like a real review of a paragraph, wrapped in a code fence.
std::string typicalReply() {
    std::string issues;
    for (int i = 0; i < 12; ++i) {
        if (i > 0) {
            issues += ",";
        }
        issues += R"({"excerpt":"they was going to the shop yesterday","explanation":"Use the plural past form were )"
                  R"(with they: subject and verb agree in number, also in the past tense.","category":"grammar"})";
    }
    const std::string paragraph = "Yesterday they were going to the shop when it started to rain, so they stayed "
                                  "inside and talked about their plans for the summer holiday in the mountains.";
    return "```json\n{\"language\":\"en\",\"corrected\":\"" + paragraph + paragraph + "\",\"improved\":\"" + paragraph +
           paragraph + "\",\"issues\":[" + issues + "],\"score\":6}\n```";
}

// The reply to the longest text a review accepts: 4000 characters corrected and again improved, and
// 26 issues; about 12 KB.
std::string longestReply() {
    std::string text;
    while (text.size() < 4000) {
        text += "Yesterday they was going to the shop when it start to rain, so they stayed inside. ";
    }
    text.resize(4000);
    std::string issues;
    for (int i = 0; i < 26; ++i) {
        issues += (i == 0 ? "" : ",") + std::string{R"({"excerpt":"they was going","explanation":"Use were with )"} +
                  R"(they: the verb agrees with a plural subject, also in the past tense.","category":"grammar"})";
    }
    return "{\"language\":\"en\",\"corrected\":\"" + text + "\",\"improved\":\"" + text + "\",\"issues\":[" + issues +
           "],\"score\":6}";
}

void parseLongestReply(benchmark::State& state) {
    const std::string reply = longestReply();
    if (!norik::core::TutorService::parse(reply)) {
        state.SkipWithError("the reply does not parse");
        return;
    }
    for (auto _ : state) {
        auto result = norik::core::TutorService::parse(reply);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(parseLongestReply)->Unit(benchmark::kMicrosecond);

void parseTypicalReply(benchmark::State& state) {
    const std::string reply = typicalReply();
    for (auto _ : state) {
        auto result = norik::core::TutorService::parse(reply);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(parseTypicalReply);

// Hostile replies of growing size: the time per byte must stay flat.
void parseNestedArrays(benchmark::State& state) {
    const std::string reply = "{\"a\":" + std::string(static_cast<std::size_t>(state.range(0)), '[') + "}";
    for (auto _ : state) {
        auto result = norik::core::TutorService::parse(reply);
        benchmark::DoNotOptimize(result);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(parseNestedArrays)->RangeMultiplier(4)->Range(1 << 14, 1 << 20)->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
