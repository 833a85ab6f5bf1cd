// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norik::test {

struct RecordedRequest {
    std::string method;
    std::string path; // as sent, without the query
    std::string query;
    std::string body;
    // Names in lower case, as HTTP compares them; cpp-httplib adds remote_addr, remote_port, local_addr and
    // local_port.
    std::multimap<std::string, std::string> headers;

    // Empty when absent; `name` in any case.
    [[nodiscard]] std::string header(std::string_view name) const;
};

// A real HTTP/1.1 server on 127.0.0.1 at a port of the system's choosing, answering from a script.
// Listens from construction until destruction; unscripted requests get 404 with an empty body.
class LoopbackServer {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    [[nodiscard]] std::string baseUrl() const;

    // Content-Type is application/json unless `headers` names one. "Transfer-Encoding: chunked" among
    // the headers sends the body in chunks, with no Content-Length. A `path` with a query ("/p?a=1")
    // answers only that query and is preferred over the bare path.
    void respond(std::string method, std::string path, int status, std::string body, Headers headers = {});
    // The delay is cut short when the server stops, so a test never waits for it in teardown.
    void respondSlowly(std::string method, std::string path, std::chrono::milliseconds delay, int status,
                       std::string body);
    // Reads the request and holds the connection without answering until the server stops.
    void neverAnswer(std::string method, std::string path);

    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    // True once at least `count` requests have arrived, false if the time-out ran out first.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds{5}) const;
    // Distinct client ports seen, i.e. how many TCP connections carried the requests.
    [[nodiscard]] std::size_t connectionCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A loopback port on which nothing listens, for exercising refused connections.
[[nodiscard]] int refusedPort();

} // namespace norik::test
