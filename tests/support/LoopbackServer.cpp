// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoopbackServer.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <cctype>
#include <charconv>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norik::test {

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// Held-open and slow handlers each occupy a worker, and so does every idle kept-alive connection.
constexpr std::size_t kWorkerThreads = 16;

// cpp-httplib keeps a worker on an idle kept-alive connection until its keep-alive time-out (seconds)
// runs out, and stop() waits for every worker; ending the connections this server accepted lets
// teardown finish at once. stop() has closed the listening socket, so the sockets left on our port are those.
void shutDownAcceptedConnections(int port) {
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator{"/proc/self/fd", failure}) {
        const std::string name = entry.path().filename().string();
        int fd = -1;
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc{})
            continue;
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == port)
            ::shutdown(fd, SHUT_RDWR);
    }
}

// Longer than any test runs: the answer waits until the server stops.
constexpr std::chrono::milliseconds kNever = std::chrono::hours{24};

struct Script {
    int status = 200;
    std::string body;
    LoopbackServer::Headers headers;
    std::chrono::milliseconds delay{0};
};

} // namespace

std::string RecordedRequest::header(std::string_view name) const {
    const auto found = headers.find(lowered(name));
    return found != headers.end() ? found->second : std::string();
}

struct LoopbackServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = -1;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, Script> scripts;
    std::vector<RecordedRequest> recorded;

    void handle(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest record;
        record.method = request.method;
        record.body = request.body;
        const auto queryStart = request.target.find('?');
        record.path = request.target.substr(0, queryStart);
        if (queryStart != std::string::npos)
            record.query = request.target.substr(queryStart + 1);
        for (const auto& [name, value] : request.headers)
            record.headers.emplace(lowered(name), value);

        std::unique_lock lock{mutex};
        auto found = scripts.find({record.method, record.path + "?" + record.query});
        if (found == scripts.end())
            found = scripts.find({record.method, record.path});
        const Script script = found != scripts.end() ? found->second : Script{404, {}, {}};
        recorded.push_back(std::move(record));
        changed.notify_all();
        changed.wait_for(lock, script.delay, [&] { return stopping; });
        lock.unlock();
        apply(script, response);
    }

    static void apply(const Script& script, httplib::Response& response) {
        response.status = script.status;
        std::optional<std::string> contentType;
        bool chunked = false;
        for (const auto& [name, value] : script.headers) {
            if (lowered(name) == "content-type")
                contentType = value;
            else if (lowered(name) == "transfer-encoding" && lowered(value) == "chunked")
                chunked = true;
            else
                response.set_header(name, value);
        }
        if (!chunked) {
            if (!script.body.empty() || contentType)
                response.set_content(script.body, contentType.value_or("application/json"));
            return;
        }
        response.set_chunked_content_provider(contentType.value_or("application/json"),
                                              [body = script.body](std::size_t, httplib::DataSink& sink) {
                                                  sink.write(body.data(), body.size());
                                                  sink.done();
                                                  return true;
                                              });
    }
};

LoopbackServer::LoopbackServer() : m_impl(std::make_unique<Impl>()) {
    auto& server = m_impl->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // Benchmarks send many requests on one connection; the library's default would close it after five.
    server.set_keep_alive_max_count(1'000'000);
    // The library writes headers and body separately; with Nagle on, the body waits for a delayed ACK (~40 ms).
    server.set_tcp_nodelay(true);
    auto handler = [impl = m_impl.get()](const httplib::Request& request, httplib::Response& response) {
        impl->handle(request, response);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);

    m_impl->port = server.bind_to_any_port("127.0.0.1");
    if (m_impl->port <= 0)
        return;
    m_impl->thread = std::thread{[&server] { server.listen_after_bind(); }};
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock{m_impl->mutex};
        m_impl->stopping = true;
    }
    m_impl->changed.notify_all();
    m_impl->server.stop();
    shutDownAcceptedConnections(m_impl->port);
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

std::string LoopbackServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_impl->port);
}

void LoopbackServer::respond(std::string method, std::string path, int status, std::string body, Headers headers) {
    std::lock_guard lock{m_impl->mutex};
    m_impl->scripts[{std::move(method), std::move(path)}] = Script{status, std::move(body), std::move(headers)};
}

void LoopbackServer::respondSlowly(std::string method, std::string path, std::chrono::milliseconds delay, int status,
                                   std::string body) {
    std::lock_guard lock{m_impl->mutex};
    m_impl->scripts[{std::move(method), std::move(path)}] = Script{status, std::move(body), {}, delay};
}

void LoopbackServer::neverAnswer(std::string method, std::string path) {
    respondSlowly(std::move(method), std::move(path), kNever, 503, {});
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock{m_impl->mutex};
    return m_impl->recorded;
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock{m_impl->mutex};
    return m_impl->changed.wait_for(lock, timeout, [&] { return m_impl->recorded.size() >= count; });
}

std::size_t LoopbackServer::connectionCount() const {
    std::lock_guard lock{m_impl->mutex};
    std::set<std::string> ports;
    for (const auto& request : m_impl->recorded)
        ports.insert(request.header("remote_port"));
    return ports.size();
}

int refusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace norik::test
