// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance/InstanceService.h"

#include <cstdlib>
#include <iostream>
#include <utility>

#include "platform/instance/InstanceClient.h"
#include "platform/instance/InstanceFolder.h"

namespace norik::app {

namespace {

using Kind = InstanceService::ClaimError::Kind;

} // namespace

std::expected<std::unique_ptr<InstanceService>, InstanceService::ClaimError> InstanceService::claim() {
    const auto folder = platform::instanceFolder();
    if (!folder) {
        return std::unexpected(ClaimError{Kind::failed, folder.error()});
    }
    return claim(*folder);
}

std::expected<std::unique_ptr<InstanceService>, InstanceService::ClaimError>
InstanceService::claim(const std::filesystem::path& folder) {
    if (const auto prepared = platform::prepareInstanceFolder(folder); !prepared) {
        return std::unexpected(ClaimError{Kind::failed, prepared.error()});
    }
    auto lock = platform::InstanceLock::acquire(folder);
    if (!lock) {
        const bool held = lock.error().kind == platform::LockError::Kind::held;
        return std::unexpected(ClaimError{held ? Kind::anotherInstance : Kind::failed, lock.error().message});
    }
    auto server = platform::InstanceServer::listen(*lock);
    if (!server) {
        return std::unexpected(ClaimError{Kind::failed, server.error()});
    }
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the constructor is private, so make_unique cannot reach it
    return std::unique_ptr<InstanceService>(new InstanceService(*std::move(lock), *std::move(server)));
}

InstanceService::InstanceService(platform::InstanceLock lock, platform::InstanceServer server)
    : m_lock(std::move(lock)), m_server(std::move(server)), m_notifier(m_server.descriptor(), QSocketNotifier::Read) {
    connect(&m_notifier, &QSocketNotifier::activated, this, &InstanceService::serve);
}

void InstanceService::serve() {
    for (const platform::InstanceMessage& message : m_server.serve()) {
        const QByteArray startupId = QByteArray::fromStdString(message.startupId);
        switch (message.request) {
        case platform::InstanceRequest::trigger:
            emit triggerRequested(startupId);
            break;
        case platform::InstanceRequest::settings:
            emit settingsRequested(startupId);
            break;
        }
    }
}

int handOverToRunningInstance(const InstanceService::ClaimError& error, const QByteArray& startupId) {
    if (error.kind != Kind::anotherInstance) {
        std::cerr << "norik: " << error.message << ".\n";
        return EXIT_FAILURE;
    }
    const auto handedOver = platform::handOverToRunningInstance(startupId.toStdString());
    if (!handedOver) {
        std::cerr << "norik: " << handedOver.error() << ".\n";
        return EXIT_FAILURE;
    }
    if (!*handedOver) {
        std::cerr << "norik: the other Norik ended while this one started; start Norik again.\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

} // namespace norik::app
