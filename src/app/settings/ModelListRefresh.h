// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <stop_token>
#include <string>

#include <QObject>
#include <QStringList>
#include <QTimer>

#include "core/providers/LLMProvider.h"

namespace norik::app {

// Lists the models a provider offers, for the settings window: each restart() waits out a short pause, so
// that typing a key or an address fetches once after the last keystroke, then runs the listing on the
// global thread pool. Only the newest job reports, and it always does, on the main thread: a failed listing
// reports an empty list. A restarted, cancelled or destroyed job never reports; its transfer is stopped and
// its result dropped, so a worker never reaches this object once it is gone. Main thread only.
class ModelListRefresh final : public QObject {
    Q_OBJECT

public:
    // The cloud services' base addresses, in the forms AnthropicClient and OpenAIClient take.
    struct BaseUrls {
        std::string anthropic;
        std::string openAI;
    };

    static constexpr std::chrono::milliseconds kDebounce{400};

    // The clients' defaults, environment overrides included.
    [[nodiscard]] static BaseUrls defaultBaseUrls();

    explicit ModelListRefresh(BaseUrls baseUrls = defaultBaseUrls(), QObject* parent = nullptr);
    ModelListRefresh(const ModelListRefresh&) = delete;
    ModelListRefresh& operator=(const ModelListRefresh&) = delete;
    ~ModelListRefresh() override;

    // Cancels the pending or running job and starts a new one: the key serves the cloud providers, the
    // endpoint the local server.
    void restart(core::LLMProvider provider, std::string key, std::string endpoint);
    void cancel();

signals:
    void modelsListed(const QStringList& models);

private:
    struct Job {
        core::LLMProvider provider = core::LLMProvider::anthropic;
        std::string key;
        std::string endpoint;
    };

    void fetch();

    BaseUrls m_baseUrls;
    QTimer m_debounce;
    Job m_job;
    // Replaced at every restart; the old source's stop reaches the job that it started, wherever it runs.
    std::stop_source m_stop;
};

} // namespace norik::app
