// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "app/shortcuts/RecorderContext.h"

class QLabel;
class QPushButton;

namespace norik::app {

// Beside the review shortcut's recorder, where Norik's own key grab does not reach every window: the keys
// the desktop's portal assigned; a button that adds Norik to GNOME's custom shortcuts; or the command to
// bind in the compositor's configuration, with a copy button. Nothing to show in an X11 session.
class TriggerRouteRow final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* command = "norik trigger";

    TriggerRouteRow(TriggerRouteState state, QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    TriggerRouteState m_state;
    QLabel* m_text = nullptr;
    QPushButton* m_action = nullptr;
};

} // namespace norik::app
