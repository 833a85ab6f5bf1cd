// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

#include <QObject>
#include <QString>
#include <gtest/gtest.h>
#include <list>
#include <ostream>

#include "app/capture/SelectionCapture.h"
#include "app/presentation/ReviewPresenter.h"
#include "core/tutor/TutorResult.h"

namespace norik::app::tests {

// The panel, as a log of what it was asked to show.
class RecordingPresenter final : public ReviewPresenter {
public:
    enum class Kind { loading, notice, error, result };

    void showLoading() override { kinds.push_back(Kind::loading); }
    void showNotice(const QString&) override { kinds.push_back(Kind::notice); }
    void showError(const QString&) override { kinds.push_back(Kind::error); }
    void showResult(const core::TutorResult&, const std::optional<QString>& note) override {
        kinds.push_back(Kind::result);
        resultNote = note;
    }
    void setOnDismiss(std::function<void()> onDismiss) override { m_onDismiss = std::move(onDismiss); }

    // What Escape or the close button does.
    void dismiss() {
        ASSERT_TRUE(m_onDismiss) << "nothing was installed to run on dismissal";
        m_onDismiss();
    }

    std::vector<Kind> kinds;
    std::optional<QString> resultNote;

private:
    std::function<void()> m_onDismiss;
};

// Answers each capture with the next scripted text on the main thread's event loop. A held capture answers only
// once it is stopped, as the real one does when a trigger or a dismissal gives up on it.
inline void PrintTo(RecordingPresenter::Kind kind, std::ostream* out) {
    *out << std::array{"loading", "notice", "error", "result"}.at(static_cast<std::size_t>(kind));
}

class ScriptedCapture final : public QObject, public SelectionCapture {
public:
    void script(std::optional<QString> text, bool held = false) { m_script.emplace_back(std::move(text), held); }

    void capture(std::stop_token stop, std::function<void(std::optional<QString>)> done) override {
        ++calls;
        ASSERT_FALSE(m_script.empty()) << "capture " << calls << " was not scripted";
        auto [text, held] = std::move(m_script.front());
        m_script.pop_front();
        std::function<void()> answer = [this, done = std::move(done), text = std::move(text)] {
            QMetaObject::invokeMethod(
                this, [done, text] { done(text); }, Qt::QueuedConnection);
        };
        if (held) {
            m_held.emplace_back(std::move(stop), std::move(answer));
        } else {
            answer();
        }
    }

    int calls = 0;

private:
    std::deque<std::pair<std::optional<QString>, bool>> m_script;
    std::list<std::stop_callback<std::function<void()>>> m_held;
};

class SwitchableTrust final : public AccessibilityTrust {
public:
    bool trusted = true;
    int requests = 0;

    [[nodiscard]] bool isTrusted() override { return trusted; }
    void requestTrust() override { ++requests; }
};

} // namespace norik::app::tests
