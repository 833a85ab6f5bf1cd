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
    // The longest the exchange may go without a byte moving either way, from the connection attempt
    // to the last byte of the body; a slow answer that keeps arriving is never cut off. Absent: the
    // session default (HttpSession::kDefaultTimeout).
    std::optional<std::chrono::milliseconds> timeout;
};

struct HttpResponse {
    long status = 0;
    std::string body;
};

// A transfer that produced no HTTP response.
struct TransportError {
    enum class Kind {
        cancelled,          // the caller's stop token was triggered
        timedOut,           // nothing moved for the request's time-out
        cannotConnect,      // refused, unreachable, name not resolved
        responseTooLarge,   // the body passed HttpSession::kMaxBodyBytes
        libraryUnavailable, // libcurl could not be loaded; nothing was sent
        other,              // TLS failure, broken connection, malformed URL, refused redirect, …
    };
    Kind kind = Kind::other;
    std::string description; // readable, for the user; never contains request headers or bodies

    friend bool operator==(const TransportError&, const TransportError&) = default;
};

[[nodiscard]] bool isValidUrl(std::string_view url);

// The one HTTP transport of the process, on libcurl. Connections, TLS sessions and DNS answers are
// shared between requests, so consecutive requests to one host reuse a connection.
// TLS peer and host verification are always on; proxies come from the environment as libcurl reads
// them. Redirects are followed up to kMaxRedirects times, to http and https addresses only and never
// from https to http; 307 and 308 keep the method and body, 301 to 303 turn a POST into a GET. Thread-safe: any number
// of threads may call send() at once, each call blocks its caller.
class HttpSession {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{std::chrono::seconds{60}};
    static constexpr std::size_t kMaxBodyBytes = std::size_t{8} * 1024 * 1024;
    static constexpr long kMaxRedirects = 10;

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
