// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <string>

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include "platform/instance/InstanceLock.h"
#include "platform/instance/InstanceServer.h"

namespace norik::app {

// Makes this process the one Norik of the user and turns the requests of `norik trigger`, `norik settings`
// and of a second `norik` into signals. It holds the instance lock and the socket for its whole life and
// gives both up on destruction. Main thread only, with a Qt event loop.
class InstanceService final : public QObject {
    Q_OBJECT

public:
    struct ClaimError {
        enum class Kind {
            anotherInstance, // another process is Norik; hand over to it
            failed,          // the instance folder, lock or socket is unusable; the message says why
        };
        Kind kind = Kind::failed;
        std::string message;
    };

    // Takes the lock in instanceFolder() and listens on its socket. Never waits for another process to end.
    [[nodiscard]] static std::expected<std::unique_ptr<InstanceService>, ClaimError> claim();
    // The same in `folder`, created or refused as by prepareInstanceFolder.
    [[nodiscard]] static std::expected<std::unique_ptr<InstanceService>, ClaimError>
    claim(const std::filesystem::path& folder);

signals:
    // Once per request received, in order of arrival, with the startup id of the launch it completes (empty
    // when none), for the window shown in answer.
    void triggerRequested(const QByteArray& startupId);
    void settingsRequested(const QByteArray& startupId);

private:
    InstanceService(platform::InstanceLock lock, platform::InstanceServer server);
    void serve();

    // Declared in this order so that the socket goes before the lock that guards it.
    platform::InstanceLock m_lock;
    platform::InstanceServer m_server;
    QSocketNotifier m_notifier;
};

// What a tray app that lost claim() does: asks the running Norik to open its settings (waiting briefly for
// one that is still starting) for the launch `startupId`, and returns the exit code, 0 when it was asked; 1 with a line
// on standard error when it could not be reached or the claim failed for another reason.
[[nodiscard]] int handOverToRunningInstance(const InstanceService::ClaimError& error, const QByteArray& startupId);

} // namespace norik::app
