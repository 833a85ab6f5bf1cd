// SPDX-License-Identifier: GPL-3.0-or-later
// From the model's reply reaching the presenter to the result panel drawn, on a private Xvfb: the time
// showResult() takes to build, measure and lay out a typical eight-issue result, plus the event loop's
// turn until the result view receives its first paint. The panel is up with the loading view before
// each reply, as it is during a review. Run: build/release/bench/norik_bench_review_panel
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QEvent>
#include <benchmark/benchmark.h>

#include "Percentile.h"

#include "app/presentation/NotchReviewPresenter.h"
#include "app/presentation/ReviewViews.h"

#include "support/XvfbServer.h"

namespace {

using namespace norik;
using Clock = std::chrono::steady_clock;

// Notes when a widget of type View receives a paint event.
template <typename View> class PaintWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<View*>(watched) != nullptr) {
            m_paintedAt = Clock::now();
        }
        return false;
    }
    void reset() { m_paintedAt.reset(); }
    [[nodiscard]] const std::optional<Clock::time_point>& paintedAt() const { return m_paintedAt; }

private:
    std::optional<Clock::time_point> m_paintedAt;
};

template <typename View> bool pumpUntilPainted(PaintWatcher<View>& watcher) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!watcher.paintedAt()) {
        if (Clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

core::TutorResult eightIssueResult() {
    core::TutorResult result;
    result.language = "de";
    result.corrected =
        "Gestern bin ich mit meinen Freunden in die Stadt gegangen. Wir haben einen Kaffee getrunken und "
        "danach sind wir ins Kino gegangen, weil es draußen geregnet hat. Der Film war sehr spannend.";
    result.improved = "Gestern war ich mit Freunden in der Stadt. Wir haben Kaffee getrunken und sind danach ins Kino "
                      "gegangen, weil es draußen regnete. Der Film war wirklich spannend.";
    const char* categories[] = {"grammar",     "spelling", "word-choice", "register",
                                "punctuation", "syntax",   "grammar",     "Word choice"};
    for (int i = 0; i < 8; ++i) {
        result.issues.push_back({"bin ich mit meine Freunde in die Stadt gegangen",
                                 "Nach \"mit\" steht der Dativ: \"mit meinen Freunden\". The preposition always takes "
                                 "the dative case, whatever the verb.",
                                 categories[i]});
    }
    result.score = 6;
    return result;
}

using norik::bench::percentile;

void replyToResultPanelDrawn(benchmark::State& state) {
    app::NotchReviewPresenter presenter;
    PaintWatcher<app::ReviewLoadingView> loadingPainted;
    PaintWatcher<app::ReviewView> resultPainted;
    qApp->installEventFilter(&loadingPainted);
    qApp->installEventFilter(&resultPainted);
    const core::TutorResult result = eightIssueResult();
    std::vector<double> samples;
    std::vector<double> built;
    for (auto _ : state) {
        loadingPainted.reset();
        presenter.showLoading();
        if (!pumpUntilPainted(loadingPainted)) {
            state.SkipWithError("the loading view was never drawn");
            break;
        }
        resultPainted.reset();
        const auto start = Clock::now();
        presenter.showResult(result, std::nullopt);
        built.push_back(std::chrono::duration<double>(Clock::now() - start).count() * 1e3);
        if (!pumpUntilPainted(resultPainted)) {
            state.SkipWithError("the result view was never drawn");
            break;
        }
        const std::chrono::duration<double> elapsed = *resultPainted.paintedAt() - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1e3);
    }
    qApp->removeEventFilter(&resultPainted);
    qApp->removeEventFilter(&loadingPainted);
    presenter.dismiss();
    if (!samples.empty()) {
        state.counters["median_ms"] = percentile(samples, 0.5);
        state.counters["p90_ms"] = percentile(samples, 0.9);
        state.counters["showResult_median_ms"] = percentile(built, 0.5);
    }
}

BENCHMARK(replyToResultPanelDrawn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const norik::tests::XvfbServer xvfb({"-screen", "0", "1920x1080x24"});
    if (!xvfb.becomeQtDisplay()) {
        return EXIT_FAILURE;
    }
    const QApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
