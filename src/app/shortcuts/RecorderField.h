// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QLineEdit>
#include <QPointer>

#include "app/shortcuts/RecorderContext.h"
#include "core/shortcuts/Notifications.h"
#include "core/shortcuts/Shortcut.h"

class QMessageBox;

namespace norik::app {

class LocalEventMonitor;

// The box in which the user sets the shortcut of one name: it shows the stored shortcut, records the next
// acceptable combination after a click or Tab, checks it against Norik's own menu items and the system's
// shortcuts, and stores it; its clear button removes it. Opening or re-showing its window never starts
// recording by itself.
//
// While it records, the registry's actions are paused and the field holds the whole keyboard, so that a
// combination which another program or the window manager grabs still reaches it. Tab, a click outside,
// Escape, storing a shortcut or the window losing the focus end recording. Main thread only.
class RecorderField final : public QLineEdit {
    Q_OBJECT

public:
    static constexpr int kMinimumWidth = 130;
    using OnChange = std::function<void(const std::optional<core::shortcuts::Shortcut>&)>;

    RecorderField(const core::shortcuts::Name& name, RecorderContext& context, OnChange onChange = {},
                  QWidget* parent = nullptr);
    ~RecorderField() override;

    [[nodiscard]] const core::shortcuts::Name& shortcutName() const { return m_name; }
    void setShortcutName(const core::shortcuts::Name& name);
    [[nodiscard]] bool isRecording() const { return m_recording; }

    [[nodiscard]] QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void startRecording();
    void endRecording();
    void blur();
    void clearShortcut();
    void handleKey(const QKeyEvent& event);
    bool handleMouseUp(const QMouseEvent& event);
    void store(const core::shortcuts::Shortcut& shortcut);
    // The title of a Norik menu item that uses the combination.
    [[nodiscard]] std::optional<QString> menuItemUsing(const core::shortcuts::Shortcut& shortcut) const;
    void showSystemConflict(const core::shortcuts::Shortcut& shortcut);
    void alert(QMessageBox* box);

    core::shortcuts::Name m_name;
    RecorderContext& m_context;
    OnChange m_onChange;
    core::shortcuts::NotificationCenter::Observer m_changeObserver;
    std::unique_ptr<LocalEventMonitor> m_mouseMonitor;
    QPointer<QMessageBox> m_alert;
    bool m_recording = false;
};

} // namespace norik::app
