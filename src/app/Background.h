// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>

namespace norik::app {

// Runs `work` on `pool` and hands its result to `done` on the thread of `context`. The way back belongs to
// `context`: once it is gone, a late result is dropped with its promise and `done` never runs, so a worker
// that outlives the object never calls into freed memory. `work` must not touch `context`.
template <typename Work, typename Done>
void runInBackground(QThreadPool& pool, QObject* context, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done = std::move(done)]() mutable {
        watcher->deleteLater();
        if (watcher->future().resultCount() > 0) {
            done(watcher->result());
        }
    });
    watcher->setFuture(promise->future());
    pool.start([promise, work = std::move(work)]() mutable {
        promise->start();
        promise->addResult(work());
        promise->finish();
    });
}

} // namespace norik::app
