// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/ModelListRefresh.h"

#include <memory>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThreadPool>
#include <gtest/gtest.h>

#include "app/QtWait.h"

#include "support/LoopbackServer.h"

namespace norik::app {
namespace {

using namespace std::chrono_literals;
using core::LLMProvider;
using norik::tests::waitUntil;

// Waits for every listing worker to end and delivers what they posted, so that a result which should have been
// dropped would have arrived by now.
bool settleWorkers() {
    const bool done = QThreadPool::globalInstance()->waitForDone(10'000);
    QCoreApplication::sendPostedEvents();
    return done;
}

// What a listing holds is the providers' test, and that typing lists once the settings window's; here, which
// job may report. The worker outlives the object at the end: ASan reports it if its answer reaches the freed object.
TEST(ModelListRefreshTest, OnlyTheNewestJobReportsAndACancelledOrDestroyedOneNothing) {
    test::LoopbackServer older;
    test::LoopbackServer newer;
    older.respondSlowly("GET", "/api/tags", 3s, 200, R"({"models":[{"name":"older"}]})");
    newer.respond("GET", "/api/tags", 200, R"({"models":[{"name":"newer"}]})");
    auto refresh = std::make_unique<ModelListRefresh>();
    QSignalSpy spy(refresh.get(), &ModelListRefresh::modelsListed);

    refresh->restart(LLMProvider::local, "", older.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return older.requests().size() == 1; }));
    refresh->restart(LLMProvider::local, "", newer.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }));
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(spy.count(), 1) << "the job restarted while it fetched was dropped";
    EXPECT_EQ(spy.at(0).at(0).toStringList(), QStringList{QStringLiteral("newer")});

    refresh->restart(LLMProvider::local, "", older.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return older.requests().size() == 2; }));
    refresh->cancel();
    ASSERT_TRUE(settleWorkers());
    EXPECT_EQ(spy.count(), 1);

    newer.neverAnswer("GET", "/api/tags");
    refresh->restart(LLMProvider::local, "", newer.baseUrl());
    ASSERT_TRUE(waitUntil([&] { return newer.requests().size() == 2; }));
    refresh.reset();
    // Without the stop the fetch would wait for this server, which never answers, until its own time-out.
    EXPECT_TRUE(settleWorkers());
}

} // namespace
} // namespace norik::app
