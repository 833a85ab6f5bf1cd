// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/updates/UpdaterManager.h"

#include <memory>
#include <utility>
#include <variant>

#include "app/Background.h"
#include "app/updates/UpdateDialog.h"
#include "core/updates/UpdateSchedule.h"

namespace norik::app {

namespace {

// One user check and one scheduled check may run at once.
constexpr int kWorkerCount = 2;

} // namespace

UpdaterManager::Options UpdaterManager::defaultOptions() {
    return Options{.installedVersion = std::string(core::kVersion),
                   .builtInFeedUrl = std::string(core::kUpdateFeedUrl),
                   .recheckInterval = std::chrono::hours{1}};
}

UpdaterManager::UpdaterManager(core::SettingsStore& settings, QObject* parent)
    : UpdaterManager(settings, defaultOptions(), parent) {}

UpdaterManager::UpdaterManager(core::SettingsStore& settings, Options options, QObject* parent)
    : QObject(parent), m_settings(settings), m_options(std::move(options)) {
    m_workers.setMaxThreadCount(kWorkerCount);
    connect(&m_recheck, &QTimer::timeout, this, &UpdaterManager::checkIfDue);
}

UpdaterManager::~UpdaterManager() {
    // The pool, destroyed after this body, waits for its workers; stopped, they end within milliseconds.
    m_stop.request_stop();
}

void UpdaterManager::start() {
    if (m_recheck.isActive()) {
        return;
    }
    m_recheck.start(m_options.recheckInterval);
    checkIfDue();
}

bool UpdaterManager::checkIfDue() {
    if (m_scheduledCheckRunning) {
        return false;
    }
    std::string feed = core::updates::feedUrl(m_settings, m_options.builtInFeedUrl);
    if (feed.empty() ||
        !core::updates::isCheckDue(core::updates::lastScheduledCheck(m_settings), std::chrono::system_clock::now())) {
        return false;
    }
    m_scheduledCheckRunning = true;
    runCheck(std::move(feed), [this](const core::updates::CheckOutcome& outcome) {
        m_scheduledCheckRunning = false;
        // A record that cannot be written only means the next evaluation checks again.
        static_cast<void>(core::updates::recordScheduledCheck(m_settings, std::chrono::system_clock::now()));
        if (const auto* release = std::get_if<core::updates::Release>(&outcome)) {
            emit newerVersionAvailable(QString::fromStdString(release->version),
                                       QUrl(QString::fromStdString(release->url)));
        }
    });
    return true;
}

void UpdaterManager::checkForUpdates() {
    if (!m_dialog) {
        m_dialog = std::make_unique<UpdateDialog>(QString::fromStdString(m_options.installedVersion));
    }
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    if (m_userCheckRunning) {
        return;
    }
    std::string feed = core::updates::feedUrl(m_settings, m_options.builtInFeedUrl);
    if (feed.empty()) {
        m_dialog->showNoFeed();
        return;
    }
    m_dialog->showChecking();
    m_userCheckRunning = true;
    runCheck(std::move(feed), [this](const core::updates::CheckOutcome& outcome) {
        m_userCheckRunning = false;
        showUserAnswer(outcome);
    });
}

void UpdaterManager::runCheck(std::string feed, std::function<void(const core::updates::CheckOutcome&)> done) {
    runInBackground(
        m_workers, this,
        [feed = std::move(feed), version = m_options.installedVersion, stop = m_stop.get_token()] {
            return core::updates::checkForUpdate(feed, version, stop);
        },
        std::move(done));
}

void UpdaterManager::showUserAnswer(const core::updates::CheckOutcome& outcome) {
    if (std::holds_alternative<core::updates::UpToDate>(outcome)) {
        m_dialog->showUpToDate();
    } else if (const auto* release = std::get_if<core::updates::Release>(&outcome)) {
        m_dialog->showNewerVersion(QString::fromStdString(release->version), QUrl(QString::fromStdString(release->url)),
                                   QString::fromStdString(release->notes));
    } else {
        m_dialog->showUnreachable(QString::fromStdString(std::get<core::updates::Unreachable>(outcome).reason));
    }
}

} // namespace norik::app
