// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norik::core::net {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Absent: the session default (HttpSession::kDefaultTimeout). Covers the whole exchange.
    std::optional<std::chrono::milliseconds> timeout;
};

struct HttpResponse {
    long status = 0;
    std::string body;
};

// A transfer that produced no HTTP response.
struct TransportError {
    enum class Kind {
        cancelled,        // the caller's stop token was triggered
        timedOut,         // the request's time-out ran out
        cannotConnect,    // refused, unreachable, name not resolved
        responseTooLarge, // the body passed HttpSession::kMaxBodyBytes
        other,            // TLS failure, broken connection, malformed URL, …
    };
    Kind kind = Kind::other;
    std::string description; // readable, for the user; never contains request headers or bodies

    friend bool operator==(const TransportError&, const TransportError&) = default;
};

[[nodiscard]] bool isValidUrl(std::string_view url);

// The one HTTP transport of the process, on libcurl. Connections, TLS sessions and DNS answers are
// shared between requests, so consecutive requests to one host reuse a connection.
// TLS peer and host verification are always on; proxies come from the environment as libcurl reads
// them. Thread-safe: any number of threads may call send() at once, each call blocks its caller.
class HttpSession {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{std::chrono::seconds{60}};
    static constexpr std::size_t kMaxBodyBytes = std::size_t{8} * 1024 * 1024;

    static HttpSession& shared();

    // Performs the whole exchange and returns the response, whatever its status, or the reason there
    // is none. A stop request on `stop` ends the transfer within a few milliseconds with
    // Kind::cancelled. A body over kMaxBodyBytes ends the transfer with Kind::responseTooLarge.
    [[nodiscard]] std::expected<HttpResponse, TransportError> send(const HttpRequest& request,
                                                                   std::stop_token stop = {});

    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;
    ~HttpSession();

private:
    HttpSession();
    struct Impl;
    class MultiLease;
    std::unique_ptr<Impl> m_impl;
};

} // namespace norik::core::net
