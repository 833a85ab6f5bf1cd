// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <benchmark/benchmark.h>

#include "core/net/HttpSession.h"
#include "core/providers/AnthropicClient.h"

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

// One page of the model listing as the service sends it: 20 ids, newest first, and where the next starts.
std::string modelPage(int page, bool more) {
    std::string data;
    std::string last;
    for (int index = 0; index < 20; ++index) {
        last = "claude-model-" + std::to_string(page) + "-" + std::to_string(index);
        data += (index == 0 ? "" : ",") + std::string{R"({"type":"model","id":")"} + last +
                R"(","display_name":"Claude Model","created_at":"2026-06-01T00:00:00Z"})";
    }
    return R"({"data":[)" + data + R"(],"has_more":)" + (more ? "true" : "false") + R"(,"first_id":"claude-model-)" +
           std::to_string(page) + R"(-0","last_id":")" + last + "\"}";
}

// The settings window's Anthropic model list for an account with three pages of models.
void anthropicListingOfThreePages(benchmark::State& state) {
    norik::test::LoopbackServer server;
    server.respond("GET", "/v1/models", 200, modelPage(1, true));
    server.respond("GET", "/v1/models?after_id=claude-model-1-19", 200, modelPage(2, true));
    server.respond("GET", "/v1/models?after_id=claude-model-2-19", 200, modelPage(3, false));

    using norik::core::AnthropicClient;
    if (AnthropicClient::listModels("bench", {}, server.baseUrl()).size() != 60) {
        state.SkipWithError("the listing did not read three pages");
        return;
    }
    for (auto _ : state) {
        auto ids = AnthropicClient::listModels("bench", {}, server.baseUrl());
        benchmark::DoNotOptimize(ids);
    }
    state.counters["connections"] = static_cast<double>(server.connectionCount());
}
BENCHMARK(anthropicListingOfThreePages)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
