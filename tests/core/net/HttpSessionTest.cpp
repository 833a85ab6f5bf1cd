// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/net/HttpSession.h"

#include <chrono>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/AppInfo.h"
#include "core/net/CurlLibrary.h"

#include "support/LoopbackServer.h"

namespace norik::core::net {
namespace {

using namespace std::chrono_literals;
using Kind = TransportError::Kind;

HttpRequest makeRequest(std::string method, std::string url, std::string body = {}) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    return request;
}

class HttpSessionTest : public ::testing::Test {
protected:
    HttpRequest request(std::string method, const std::string& path, std::string body = {}) const {
        return makeRequest(std::move(method), server.baseUrl() + path, std::move(body));
    }

    test::LoopbackServer server;
    HttpSession& session = HttpSession::shared();
};

TEST_F(HttpSessionTest, RequestArrivesAsSentAndResponseComesBack) {
    server.respond("POST", "/v1/chat", 201, R"({"ok":true})", {{"X-Reply", "yes"}});
    auto post = request("POST", "/v1/chat?stream=false&x=%20y", R"({"prompt":"Hallo"})");
    post.headers = {{"Authorization", "Bearer k-123"}, {"Content-Type", "application/json"}};

    const auto reply = session.send(post);
    ASSERT_TRUE(reply.has_value()) << reply.error().description;
    EXPECT_EQ(reply->status, 201);
    EXPECT_EQ(reply->body, R"({"ok":true})");

    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].path, "/v1/chat");
    EXPECT_EQ(seen[0].query, "stream=false&x=%20y");
    EXPECT_EQ(seen[0].body, R"({"prompt":"Hallo"})");
    EXPECT_EQ(seen[0].header("authorization"), "Bearer k-123");
    EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
    EXPECT_EQ(seen[0].header("User-Agent"), "Norik/" + std::string{kVersion});
}

TEST_F(HttpSessionTest, EachMethodArrivesWithItsBodyAndAnErrorStatusIsAResponse) {
    for (const std::string& method : {std::string("GET"), std::string("DELETE"), std::string("PUT")}) {
        const std::string body = method == "PUT" ? "payload" : "";
        server.respond(method, "/m", 500, "overloaded");
        const auto reply = session.send(request(method, "/m", body));
        ASSERT_TRUE(reply.has_value()) << method << ": " << reply.error().description;
        EXPECT_EQ(reply->status, 500);
        EXPECT_EQ(reply->body, "overloaded");
        const auto seen = server.requests().back();
        EXPECT_EQ(seen.method, method);
        EXPECT_EQ(seen.body, body);
        EXPECT_FALSE(seen.hasHeader("Content-Type")) << method << " got " << seen.header("Content-Type");
    }
}

TEST_F(HttpSessionTest, LargeUploadGoesWithoutWaitingForContinue) {
    // libcurl would announce bodies over 1 MiB with "Expect: 100-continue" and wait a round trip.
    const std::string upload(2 * 1024 * 1024, 'u');
    server.respond("POST", "/upload", 200, "stored");
    const auto reply = session.send(request("POST", "/upload", upload));
    ASSERT_TRUE(reply.has_value()) << reply.error().description;

    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_FALSE(seen[0].hasHeader("Expect"));
    EXPECT_EQ(seen[0].body.size(), upload.size());
}

TEST_F(HttpSessionTest, SequentialRequestsReuseOneConnection) {
    server.respond("GET", "/a", 200, "1");
    ASSERT_TRUE(session.send(request("GET", "/a")).has_value());
    ASSERT_TRUE(session.send(request("GET", "/a")).has_value());
    EXPECT_EQ(server.requests().size(), 2U);
    EXPECT_EQ(server.connectionCount(), 1U);
}

TEST_F(HttpSessionTest, SilentServerTimesOutWithoutLeakingTheRequest) {
    server.neverAnswer("POST", "/slow");
    auto post = request("POST", "/slow", "secret-body");
    post.headers = {{"Authorization", "Bearer secret-key"}};
    post.timeout = 200ms;

    const auto reply = session.send(post);
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, Kind::timedOut);
    EXPECT_FALSE(reply.error().description.empty());
    EXPECT_EQ(reply.error().description.find("secret"), std::string::npos) << reply.error().description;
}

TEST_F(HttpSessionTest, ABodyThatKeepsArrivingOutlastsTheIdleTimeOut) {
    const std::string body(12000, 'b');
    server.respondInPieces("GET", "/trickle", 200, body, 12, 50ms);
    auto get = request("GET", "/trickle");
    get.timeout = 400ms; // the whole answer takes about 550 ms, but no gap comes near the limit
    const auto reply = session.send(get);
    ASSERT_TRUE(reply.has_value()) << reply.error().description;
    EXPECT_EQ(reply->body, body);
}

struct RedirectCase {
    const char* name;
    int status;
    std::string methodAfter;
    std::string bodyAfter;
};

class HttpRedirectTest : public ::testing::TestWithParam<RedirectCase> {};

TEST_P(HttpRedirectTest, FollowsLikeABrowser) {
    test::LoopbackServer server;
    server.respond("POST", "/old", GetParam().status, "", {{"Location", server.baseUrl() + "/new"}});
    server.respond(GetParam().methodAfter, "/new", 200, "moved here");
    auto post = makeRequest("POST", server.baseUrl() + "/old", R"({"a":1})");
    post.headers = {{"Content-Type", "application/json"}};
    const auto reply = HttpSession::shared().send(post);
    ASSERT_TRUE(reply.has_value()) << reply.error().description;
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "moved here");
    const auto arrived = server.requests().back();
    EXPECT_EQ(arrived.path, "/new");
    EXPECT_EQ(arrived.method, GetParam().methodAfter);
    EXPECT_EQ(arrived.body, GetParam().bodyAfter);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpRedirectTest,
                         ::testing::Values(RedirectCase{"Temporary307KeepsThePost", 307, "POST", R"({"a":1})"},
                                           RedirectCase{"Permanent308KeepsThePost", 308, "POST", R"({"a":1})"},
                                           RedirectCase{"SeeOther303FetchesWithGet", 303, "GET", ""}),
                         [](const ::testing::TestParamInfo<RedirectCase>& row) { return row.param.name; });

TEST_F(HttpSessionTest, RedirectsStopAtTheBoundAndStayOnHttp) {
    server.respond("GET", "/loop", 302, "", {{"Location", "/loop"}});
    // libcurl would follow ftp on its own; a refused port tells a blocked redirect from a tried one.
    server.respond("GET", "/away", 302, "",
                   {{"Location", "ftp://127.0.0.1:" + std::to_string(test::refusedPort()) + "/"}});
    for (const std::string path : {"/loop", "/away"}) {
        const auto reply = session.send(request("GET", path));
        ASSERT_FALSE(reply.has_value()) << path;
        EXPECT_EQ(reply.error().kind, Kind::other) << path;
    }
    EXPECT_EQ(server.requests().size(), std::size_t{HttpSession::kMaxRedirects + 2});
}

TEST(CurlLibraryTest, AMissingLibraryIsNamedAsSuch) {
    CurlLibrary unused;
    const std::string failure = loadCurlLibrary("libnorik-absent.so.0", unused);
    EXPECT_TRUE(failure.starts_with("Norik could not load libcurl: ")) << failure;
    EXPECT_NE(failure.find("libnorik-absent.so.0"), std::string::npos) << failure;
}

TEST_F(HttpSessionTest, RefusedPortCannotConnect) {
    const auto reply =
        session.send(makeRequest("GET", "http://127.0.0.1:" + std::to_string(test::refusedPort()) + "/"));
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, Kind::cannotConnect);
    EXPECT_FALSE(reply.error().description.empty());
}

TEST_F(HttpSessionTest, StopRequestEndsAnInFlightTransfer) {
    server.neverAnswer("GET", "/hang");
    std::stop_source stopSource;
    auto pending =
        std::async(std::launch::async, [&] { return session.send(request("GET", "/hang"), stopSource.get_token()); });
    ASSERT_TRUE(server.waitForRequests(1));

    stopSource.request_stop();
    const auto reply = pending.get();
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, Kind::cancelled);
}

TEST_F(HttpSessionTest, AlreadyStoppedTokenNeverConnects) {
    std::stop_source stopSource;
    stopSource.request_stop();
    const auto reply = session.send(request("GET", "/"), stopSource.get_token());
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().kind, Kind::cancelled);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpSessionTest, BodiesOverTheLimitAreRefusedWhetherAnnouncedOrNot) {
    const std::string tooBig(9 * 1024 * 1024, 'x');
    server.respond("GET", "/announced", 200, tooBig);
    server.respond("GET", "/chunked", 200, tooBig, {{"Transfer-Encoding", "chunked"}});
    server.respond("GET", "/at-limit", 200, std::string(HttpSession::kMaxBodyBytes, 'y'),
                   {{"Transfer-Encoding", "chunked"}});

    for (const std::string path : {"/announced", "/chunked"}) {
        const auto reply = session.send(request("GET", path));
        ASSERT_FALSE(reply.has_value()) << path;
        EXPECT_EQ(reply.error().kind, Kind::responseTooLarge) << path;
        EXPECT_NE(reply.error().description.find("too large"), std::string::npos) << reply.error().description;
    }
    const auto atLimit = session.send(request("GET", "/at-limit"));
    ASSERT_TRUE(atLimit.has_value()) << atLimit.error().description;
    EXPECT_EQ(atLimit->body.size(), HttpSession::kMaxBodyBytes);
}

TEST_F(HttpSessionTest, InvalidRequestsFailBeforeAnyConnection) {
    auto badMethod = request("GET / HTTP/1.1\r\nX:", "/");
    auto badHeader = request("GET", "/");
    badHeader.headers = {{"X-Injected", "a\r\nHost: elsewhere"}};
    for (const auto& bad : {makeRequest("GET", "ftp://127.0.0.1/file"), badMethod, badHeader}) {
        const auto reply = session.send(bad);
        ASSERT_FALSE(reply.has_value());
        EXPECT_EQ(reply.error().kind, Kind::other);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(IsValidUrl, AcceptsOnlyAbsoluteHttpAddressesWithAHost) {
    EXPECT_TRUE(isValidUrl("HTTPS://Example.COM/v1/messages?beta=true"));
    for (const std::string_view refused :
         {std::string_view("api.example.com/v1"), std::string_view("http://"), std::string_view("http://exa mple.com/"),
          std::string_view("file:///etc"), std::string_view{"http://a.com\0.evil", 18}}) {
        EXPECT_FALSE(isValidUrl(refused)) << refused;
    }
}

TEST_F(HttpSessionTest, ConcurrentSendsFromSeveralThreadsAllSucceed) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 10;
    for (int t = 0; t < kThreads; ++t)
        server.respond("GET", "/t" + std::to_string(t), 200, "reply " + std::to_string(t));

    std::vector<std::future<int>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&, t] {
            int good = 0;
            for (int i = 0; i < kPerThread; ++i) {
                const auto reply = session.send(request("GET", "/t" + std::to_string(t)));
                good += reply.has_value() && reply->body == "reply " + std::to_string(t) ? 1 : 0;
            }
            return good;
        }));
    }
    for (auto& worker : workers)
        EXPECT_EQ(worker.get(), kPerThread);
    EXPECT_EQ(server.requests().size(), std::size_t{kThreads * kPerThread});
}

} // namespace
} // namespace norik::core::net
