// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/history/NorikStore.h"

#include <cstdio>

#include "core/AppInfo.h"
#include "core/history/SqliteConnection.h"
#include "core/log/Problems.h"
#include "core/xdg/BaseDirectories.h"

namespace norik::core {

NorikStore& NorikStore::shared() {
    static NorikStore store{defaultLocation()};
    return store;
}

std::filesystem::path NorikStore::defaultLocation() {
    return xdg::dataHome() / std::string(kAppId) / "norik.store";
}

NorikStore::NorikStore(std::filesystem::path file) : m_location(std::move(file)) {
    auto connection = SqliteConnection::open(m_location);
    if (connection) {
        m_connection = std::move(*connection);
        return;
    }
    m_unavailableReason = std::move(connection.error());
    std::string line = "norik: review history is off, cannot use the store";
    if (!m_location.empty()) {
        line += ' ';
        line += m_location.string();
    }
    line += ": ";
    line += m_unavailableReason;
    reportProblem({Problem::Kind::historyUnavailable, m_location, m_unavailableReason, line});
}

// Out of line, where SqliteConnection is complete.
NorikStore::~NorikStore() = default;

} // namespace norik::core
