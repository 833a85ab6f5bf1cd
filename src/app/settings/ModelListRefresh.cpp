// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/ModelListRefresh.h"

#include <utility>
#include <vector>

#include <QThreadPool>

#include "app/Background.h"
#include "core/providers/AnthropicClient.h"
#include "core/providers/OpenAIClient.h"
#include "core/providers/ProviderCatalogue.h"

namespace norik::app {

namespace {

QStringList toStringList(const std::vector<std::string>& ids) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(ids.size()));
    for (const std::string& id : ids) {
        list.append(QString::fromStdString(id));
    }
    return list;
}

} // namespace

ModelListRefresh::BaseUrls ModelListRefresh::defaultBaseUrls() {
    return {.anthropic = core::AnthropicClient::defaultBaseUrl(), .openAI = core::OpenAIClient::defaultBaseUrl()};
}

ModelListRefresh::ModelListRefresh(BaseUrls baseUrls, QObject* parent)
    : QObject(parent), m_baseUrls(std::move(baseUrls)) {
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(kDebounce);
    connect(&m_debounce, &QTimer::timeout, this, &ModelListRefresh::fetch);
}

ModelListRefresh::~ModelListRefresh() {
    cancel();
}

void ModelListRefresh::restart(core::LLMProvider provider, std::string key, std::string endpoint) {
    cancel();
    m_job = Job{.provider = provider, .key = std::move(key), .endpoint = std::move(endpoint)};
    m_debounce.start();
}

void ModelListRefresh::cancel() {
    m_debounce.stop();
    m_stop.request_stop();
    m_stop = std::stop_source();
}

void ModelListRefresh::fetch() {
    const std::stop_token stop = m_stop.get_token();

    runInBackground(
        *QThreadPool::globalInstance(), this,
        [stop, job = m_job, baseUrls = m_baseUrls] {
            const std::string& baseUrl =
                job.provider == core::LLMProvider::openAI ? baseUrls.openAI : baseUrls.anthropic;
            const auto ids = core::listModels(job.provider, job.key, job.endpoint, stop, baseUrl);
            return toStringList(ids);
        },
        [this, stop](const QStringList& models) {
            // A stop means a newer job or a closed window: this answer belongs to nobody.
            if (!stop.stop_requested()) {
                emit modelsListed(models);
            }
        });
}

} // namespace norik::app
