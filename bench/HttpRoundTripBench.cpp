// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <benchmark/benchmark.h>

#include "core/net/HttpSession.h"

#include "support/LoopbackServer.h"

namespace {

using norik::core::net::HttpRequest;
using norik::core::net::HttpSession;

// A small chat-sized exchange with the loopback server, on the connection the session keeps open.
void roundTripOnReusedConnection(benchmark::State& state) {
    norik::test::LoopbackServer server;
    server.respond("POST", "/v1/chat/completions", 200, R"({"choices":[{"message":{"content":"Fine."}}]})");

    HttpRequest request;
    request.method = "POST";
    request.url = server.baseUrl() + "/v1/chat/completions";
    request.headers = {{"Authorization", "Bearer bench"}, {"Content-Type", "application/json"}};
    request.body = R"({"model":"m","messages":[{"role":"user","content":"Is this sentence fine?"}]})";

    HttpSession& session = HttpSession::shared();
    // Opens the connection outside the timed loop, so every timed request reuses it.
    if (!session.send(request)) {
        state.SkipWithError("the loopback server did not answer");
        return;
    }
    for (auto _ : state) {
        auto reply = session.send(request);
        if (!reply || reply->status != 200) {
            state.SkipWithError("a request failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    state.counters["connections"] = static_cast<double>(server.connectionCount());
}
BENCHMARK(roundTripOnReusedConnection)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
