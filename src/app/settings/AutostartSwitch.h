// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>
#include <QFileSystemWatcher>

#include "platform/autostart/Autostart.h"

class QShowEvent;

namespace norik::app {

// The "Start Norik at login" switch of the settings window. It shows whether the autostart entry is there,
// read anew whenever the switch is shown and whenever the autostart folder changes, so an entry removed by
// hand shows as off; a click writes or removes the entry. A write that fails leaves the switch showing the
// entry as it is. Main thread only.
class AutostartSwitch final : public QCheckBox {
    Q_OBJECT

public:
    explicit AutostartSwitch(platform::Autostart autostart = {}, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void switchTo(bool on);
    void showEntry();
    void watchFolder();

    platform::Autostart m_autostart;
    QFileSystemWatcher m_watcher;
};

} // namespace norik::app
