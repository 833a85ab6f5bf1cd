// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/AutostartSwitch.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include <QShowEvent>

namespace norik::app {

AutostartSwitch::AutostartSwitch(platform::Autostart autostart, QWidget* parent)
    : QCheckBox(QStringLiteral("Start Norik at login"), parent), m_autostart(std::move(autostart)) {
    setObjectName(QStringLiteral("startAtLogin"));
    // Only a click is the user's choice; showing the entry's state goes through setChecked, which does not click.
    connect(this, &QCheckBox::clicked, this, &AutostartSwitch::switchTo);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &AutostartSwitch::showEntry);
    watchFolder();
}

void AutostartSwitch::showEvent(QShowEvent* event) {
    QCheckBox::showEvent(event);
    showEntry();
}

void AutostartSwitch::switchTo(bool on) {
    // The switch goes back to what the entry says; hovering it tells why the entry could not be changed.
    const auto written = m_autostart.setEnabled(on);
    setToolTip(written ? QString() : QString::fromStdString(written.error()));
    watchFolder();
    showEntry();
}

void AutostartSwitch::showEntry() {
    setChecked(m_autostart.enabled());
}

// The folder may not exist until the first entry is written; it is watched from then on.
void AutostartSwitch::watchFolder() {
    const std::filesystem::path folder = m_autostart.entryFile().parent_path();
    std::error_code error;
    if (m_watcher.directories().isEmpty() && std::filesystem::is_directory(folder, error)) {
        m_watcher.addPath(QString::fromStdString(folder.string()));
    }
}

} // namespace norik::app
