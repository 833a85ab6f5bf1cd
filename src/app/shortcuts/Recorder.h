// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "app/shortcuts/RecorderField.h"
#include "core/shortcuts/Notifications.h"

class QLabel;

namespace norik::app {

// A recorder field with an optional label before it and, under it, a warning line that stays while the
// stored shortcut holds no system hot key (another program took the combination), until a working one is
// set. Main thread only.
class Recorder final : public QWidget {
    Q_OBJECT

public:
    Recorder(const core::shortcuts::Name& name, RecorderContext& context, const QString& label = {},
             RecorderField::OnChange onChange = {}, QWidget* parent = nullptr);

    [[nodiscard]] RecorderField& field() { return *m_field; }
    // Empty while the shortcut works or there is none.
    [[nodiscard]] QString warning() const;

private:
    void refreshWarning();

    RecorderContext& m_context;
    RecorderField* m_field = nullptr;
    QLabel* m_warning = nullptr;
    core::shortcuts::NotificationCenter::Observer m_changeObserver;
    core::shortcuts::NotificationCenter::Observer m_failureObserver;
};

// The sentence that tells the user that `shortcut` ("Ctrl+Alt+Space") does nothing.
[[nodiscard]] QString unregisteredShortcutWarning(const QString& shortcut);

} // namespace norik::app
