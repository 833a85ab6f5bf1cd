// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/QtWait.h"
#include "app/capture/SelectionCapture.h"
#include "app/presentation/ReviewPresenter.h"
#include "core/tutor/TutorResult.h"

namespace norik::app::tests {

using norik::tests::waitUntil;

// The panel, as a log of what it was asked to show.
class RecordingPresenter final : public ReviewPresenter {
public:
    enum class Kind { loading, notice, error, result };
    struct Call {
        Kind kind;
        QString message;
        std::optional<core::TutorResult> result;
        std::optional<QString> note;
    };

    void showLoading() override { m_calls.push_back({Kind::loading, {}, {}, {}}); }
    void showNotice(const QString& message) override { m_calls.push_back({Kind::notice, message, {}, {}}); }
    void showError(const QString& message) override { m_calls.push_back({Kind::error, message, {}, {}}); }
    void showResult(const core::TutorResult& result, const std::optional<QString>& note) override {
        m_calls.push_back({Kind::result, {}, result, note});
    }
    void setOnDismiss(std::function<void()> onDismiss) override { m_onDismiss = std::move(onDismiss); }

    // What Escape or the close button does.
    void dismiss() {
        ASSERT_TRUE(m_onDismiss) << "nothing was installed to run on dismissal";
        m_onDismiss();
    }

    [[nodiscard]] const std::vector<Call>& calls() const { return m_calls; }
    [[nodiscard]] std::vector<Kind> kinds() const {
        std::vector<Kind> kinds;
        for (const Call& call : m_calls) {
            kinds.push_back(call.kind);
        }
        return kinds;
    }
    [[nodiscard]] std::size_t count(Kind kind) const {
        return static_cast<std::size_t>(std::ranges::count(m_calls, kind, &Call::kind));
    }

private:
    std::vector<Call> m_calls;
    std::function<void()> m_onDismiss;
};

// Answers each capture with the next scripted text after its delay, on the main thread's event loop. Like the
// real capture, a stop request cuts the wait short and the text is still delivered.
class ScriptedCapture final : public QObject, public SelectionCapture {
public:
    void script(std::optional<QString> text, std::chrono::milliseconds delay = {}) {
        m_script.push_back({std::move(text), delay});
    }

    void capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) override {
        ++m_calls;
        if (m_script.empty()) {
            ADD_FAILURE() << "capture " << m_calls << " was not scripted";
            m_script.push_back({std::nullopt, {}});
        }
        auto [text, delay] = std::move(m_script.front());
        m_script.pop_front();
        new Pending(this, std::move(stop), delay, [done = std::move(done), text = std::move(text)] { done(text); });
    }

    [[nodiscard]] int calls() const { return m_calls; }

private:
    struct Step {
        std::optional<QString> text;
        std::chrono::milliseconds delay;
    };

    // One capture in flight; deletes itself once it has answered.
    class Pending final : public QObject {
    public:
        Pending(QObject* parent, std::stop_token stop, std::chrono::milliseconds delay, std::function<void()> answer)
            : QObject(parent), m_answer(std::move(answer)) {
            m_timer.setSingleShot(true);
            QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
                m_answer();
                deleteLater();
            });
            m_timer.start(delay);
            // Stops come from the main thread here (trigger and dismissal), where the timer lives.
            m_onStop.emplace(std::move(stop), [this] { m_timer.start(0); });
        }

    private:
        QTimer m_timer;
        std::function<void()> m_answer;
        std::optional<std::stop_callback<std::function<void()>>> m_onStop;
    };

    std::deque<Step> m_script;
    int m_calls = 0;
};

class SwitchableTrust final : public AccessibilityTrust {
public:
    bool trusted = true;

    [[nodiscard]] bool isTrusted() override { return trusted; }
    void requestTrust() override { ++m_requests; }

    [[nodiscard]] int requests() const { return m_requests; }

private:
    int m_requests = 0;
};

} // namespace norik::app::tests
