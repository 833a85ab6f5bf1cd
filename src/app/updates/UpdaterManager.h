// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include "core/AppInfo.h"
#include "core/updates/UpdateCheck.h"

namespace norik::core {
class SettingsStore;
}

namespace norik::app {

class UpdateDialog;

// Keeps Norik's users told about new releases from a small JSON feed (see core/updates). The feed is the
// "updateFeedURL" setting when set, else the address built in; without either, the package manager updates
// this copy and no scheduled check is ever made. Settings are read at every decision, so a feed configured
// while Norik runs is used from the next evaluation on.
//
// Checks run on a pool of the manager's own, so a stalled feed never holds threads the reviews need; answers
// come back to the main thread. Destroying the manager stops the running checks and drops their answers.
// Main thread only. `settings` is borrowed and must outlive the manager.
class UpdaterManager final : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::string installedVersion;
        // Used when the settings name no feed; empty means none.
        std::string builtInFeedUrl;
        // How often start() re-evaluates whether the daily check is due.
        std::chrono::milliseconds recheckInterval;
    };
    // The installed version, the feed built in and an hourly re-evaluation.
    [[nodiscard]] static Options defaultOptions();

    explicit UpdaterManager(core::SettingsStore& settings, QObject* parent = nullptr);
    UpdaterManager(core::SettingsStore& settings, Options options, QObject* parent = nullptr);
    UpdaterManager(const UpdaterManager&) = delete;
    UpdaterManager& operator=(const UpdaterManager&) = delete;
    ~UpdaterManager() override;

    // Starts the scheduled checks: one now if due (checkIfDue()), then a re-evaluation every recheckInterval,
    // so a long-running Norik still checks once a day. Calling it again changes nothing.
    void start();

    // Starts a scheduled check in the background when a feed is configured, a check is due by the time of the
    // last recorded one, and no scheduled check runs; returns whether it started one. When the check ends its
    // time is recorded (whatever the answer, so a broken feed is not asked more than once a day), and a newer
    // version is announced with newerVersionAvailable(); otherwise it is silent.
    bool checkIfDue();

    // The user's "Check for Updates…": shows the update dialog at once (not modal) and checks now. While a
    // check of the user's runs, another call only brings its dialog forward. The answer replaces "Checking for
    // updates…": up to date, a newer version with a button that opens its page, why the feed could not be
    // reached, or that the package manager updates this copy. A dialog the user closed stays closed when the
    // answer arrives.
    void checkForUpdates();

signals:
    void newerVersionAvailable(QString version, QUrl page);

private:
    void runCheck(std::string feed, std::function<void(const core::updates::CheckOutcome&)> done);
    void showUserAnswer(const core::updates::CheckOutcome& outcome);

    core::SettingsStore& m_settings;
    Options m_options;
    QTimer m_recheck;
    QThreadPool m_workers;
    std::stop_source m_stop;
    // Made at the first check of the user and kept, hidden when closed, for the manager's life.
    std::unique_ptr<UpdateDialog> m_dialog;
    bool m_userCheckRunning = false;
    bool m_scheduledCheckRunning = false;
};

} // namespace norik::app
