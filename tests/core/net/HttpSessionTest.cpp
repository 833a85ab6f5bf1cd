// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/net/HttpSession.h"

#include <chrono>
#include <future>
#include <stop_token>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/net/CurlLibrary.h"

#include "support/LoopbackServer.h"

namespace norik::core::net {
namespace {

using Kind = TransportError::Kind;

HttpRequest to(std::string url, std::string method = "GET", std::string body = {}) {
    return {.method = std::move(method), .url = std::move(url), .headers = {}, .body = std::move(body), .timeout = {}};
}

class HttpSessionTest : public ::testing::Test {
protected:
    HttpRequest request(std::string method, const std::string& path, std::string body = {}) const {
        return to(server.baseUrl() + path, std::move(method), std::move(body));
    }
    void expectFailure(const HttpRequest& sent, Kind kind, std::stop_token stop = {}) const {
        const auto reply = session.send(sent, std::move(stop));
        ASSERT_FALSE(reply.has_value()) << sent.url;
        EXPECT_EQ(reply.error().kind, kind) << sent.url << ": " << reply.error().description;
        EXPECT_FALSE(reply.error().description.empty());
        EXPECT_EQ(reply.error().description.find("secret"), std::string::npos) << reply.error().description;
    }

    test::LoopbackServer server;
    HttpSession& session = HttpSession::shared();
};

TEST_F(HttpSessionTest, RequestArrivesAsSentOnOneConnectionAndAnErrorStatusIsAResponse) {
    // libcurl would announce bodies over 1 MiB with "Expect: 100-continue" and wait a round trip.
    const std::string upload(2 * 1024 * 1024, 'u');
    server.respond("POST", "/v1/chat", 201, R"({"ok":true})");
    auto post = request("POST", "/v1/chat?stream=false&x=%20y", upload);
    post.headers = {{"Authorization", "Bearer k-123"}, {"Content-Type", "application/json"}};
    const auto reply = session.send(post);
    ASSERT_TRUE(reply.has_value()) << reply.error().description;
    EXPECT_EQ(std::tie(reply->status, reply->body), std::tuple(201, R"({"ok":true})"));
    const auto seen = server.requests().at(0);
    EXPECT_EQ(std::tie(seen.method, seen.path, seen.query), std::tie("POST", "/v1/chat", "stream=false&x=%20y"));
    EXPECT_TRUE(seen.body == upload);
    EXPECT_FALSE(seen.headers.contains("expect"));

    server.respond("GET", "/m", 500, "overloaded");
    const auto failed = session.send(request("GET", "/m"));
    ASSERT_TRUE(failed.has_value()) << failed.error().description;
    EXPECT_EQ(std::tie(failed->status, failed->body), std::tuple(500, "overloaded"));
    EXPECT_FALSE(server.requests().back().headers.contains("content-type")) << "no body, no type";
    EXPECT_EQ(server.connectionCount(), 1U);
}

TEST_F(HttpSessionTest, ASilentServerTimesOutWithoutLeakingTheRequest) {
    server.neverAnswer("POST", "/slow");
    auto post = request("POST", "/slow", "secret-body");
    post.headers = {{"Authorization", "Bearer secret-key"}};
    post.timeout = std::chrono::milliseconds{200};
    expectFailure(post, Kind::timedOut);
}

TEST_F(HttpSessionTest, AStopEndsAnInFlightTransferAndAStoppedTokenNeverConnects) {
    server.neverAnswer("GET", "/hang");
    std::stop_source stop;
    auto pending =
        std::async(std::launch::async, [&] { return session.send(request("GET", "/hang"), stop.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    const auto reply = pending.get();
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, Kind::cancelled);
    expectFailure(request("GET", "/never"), Kind::cancelled, stop.get_token());
    EXPECT_EQ(server.requests().size(), 1U);
}

TEST_F(HttpSessionTest, BodiesOverTheLimitAreRefusedWhetherAnnouncedOrNot) {
    const std::string tooBig(HttpSession::kMaxBodyBytes + 1, 'x');
    server.respond("GET", "/announced", 200, tooBig);
    server.respond("GET", "/chunked", 200, tooBig, {{"Transfer-Encoding", "chunked"}});
    server.respond("GET", "/at-limit", 200, tooBig.substr(1), {{"Transfer-Encoding", "chunked"}});
    expectFailure(request("GET", "/announced"), Kind::responseTooLarge);
    expectFailure(request("GET", "/chunked"), Kind::responseTooLarge);
    const auto atLimit = session.send(request("GET", "/at-limit"));
    ASSERT_TRUE(atLimit.has_value()) << atLimit.error().description;
    EXPECT_EQ(atLimit->body.size(), HttpSession::kMaxBodyBytes);
}

TEST_F(HttpSessionTest, InjectedHeadersBadAddressesRefusedPortsAndAMissingLibraryFailBeforeAnyRequest) {
    auto badHeader = request("GET", "/");
    badHeader.headers = {{"X-Injected", "a\r\nHost: elsewhere"}};
    expectFailure(badHeader, Kind::other);
    expectFailure(request("GET / HTTP/1.1\r\nX:", "/"), Kind::other);
    expectFailure(to("ftp://127.0.0.1/file"), Kind::other);
    expectFailure(to("http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/"), Kind::cannotConnect);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(isValidUrl("HTTPS://Example.COM/v1/messages?beta=true"));
    for (const std::string_view refused :
         {std::string_view("api.example.com/v1"), std::string_view("http://"), std::string_view("http://exa mple.com/"),
          std::string_view("file:///etc"), std::string_view{"http://a.com\0.evil", 18}}) {
        EXPECT_FALSE(isValidUrl(refused)) << refused;
    }
    CurlLibrary unused;
    const std::string missing = loadCurlLibrary("libnorik-absent.so.0", unused);
    EXPECT_NE(missing.find("libnorik-absent.so.0"), std::string::npos) << "a missing library is named: " << missing;
}

TEST_F(HttpSessionTest, RedirectsAreFollowedLikeABrowserUpToTheBoundAndOnlyOnHttp) {
    for (const auto& [status, methodAfter, bodyAfter] :
         {std::tuple{307, "POST", R"({"a":1})"}, std::tuple{308, "POST", R"({"a":1})"}, std::tuple{303, "GET", ""}}) {
        server.respond("POST", "/old", status, "", {{"Location", server.baseUrl() + "/new"}});
        server.respond(methodAfter, "/new", 200, "moved here");
        const auto reply = session.send(request("POST", "/old", R"({"a":1})"));
        ASSERT_TRUE(reply.has_value()) << reply.error().description;
        EXPECT_EQ(reply->body, "moved here");
        const auto arrived = server.requests().back();
        EXPECT_EQ(std::tie(arrived.method, arrived.body), std::tie(methodAfter, bodyAfter)) << status;
    }
    const std::size_t before = server.requests().size();
    server.respond("GET", "/loop", 302, "", {{"Location", "/loop"}});
    // libcurl would follow ftp on its own; a refused port tells a blocked redirect from a tried one.
    server.respond("GET", "/away", 302, "",
                   {{"Location", "ftp://127.0.0.1:" + std::to_string(test::refusedPort()) + "/"}});
    expectFailure(request("GET", "/loop"), Kind::other);
    expectFailure(request("GET", "/away"), Kind::other);
    EXPECT_EQ(server.requests().size() - before, std::size_t{HttpSession::kMaxRedirects + 2});
}

TEST_F(HttpSessionTest, SeveralThreadsShareTheSession) {
    server.respond("GET", "/t", 200, "reply");
    std::vector<std::future<int>> workers;
    for (int thread = 0; thread < 4; ++thread) {
        workers.push_back(std::async(std::launch::async, [&] {
            int good = 0;
            for (int i = 0; i < 10; ++i) {
                const auto reply = session.send(request("GET", "/t"));
                good += reply.has_value() && reply->body == "reply" ? 1 : 0;
            }
            return good;
        }));
    }
    for (auto& worker : workers) {
        EXPECT_EQ(worker.get(), 10);
    }
}

} // namespace
} // namespace norik::core::net
