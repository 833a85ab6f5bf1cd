// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/RecorderField.h"

#include <utility>

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <xcb/xcb.h>

#include "app/shortcuts/LocalEventMonitor.h"
#include "app/shortcuts/MenuShortcutMonitor.h"
#include "core/shortcuts/KeyCombination.h"
#include "core/shortcuts/Localization.h"

namespace norik::app {

namespace {

using core::shortcuts::Shortcut;

// A click this close to the field still counts as inside it.
constexpr int kClickSlack = 3;
// Set on an alert whose answer stored the shortcut.
constexpr const char* kStoredProperty = "norikStoredShortcut";

QString localized(std::string_view key) {
    const std::string_view text = core::shortcuts::localized(key);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Shift:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

bool hasNoModifiers(const QKeyEvent& event) {
    return (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

void postRecorderActive(core::shortcuts::Registry& registry, bool active) {
    registry.notifications().post(core::shortcuts::Notification{
        std::string(core::shortcuts::recorderActiveStatusDidChange), {{"isActive", active}}});
}

} // namespace

RecorderField::RecorderField(const core::shortcuts::Name& name, RecorderContext& context, OnChange onChange,
                             QWidget* parent)
    : QLineEdit(parent), m_name(name), m_context(context), m_onChange(std::move(onChange)) {
    setObjectName(QStringLiteral("shortcutRecorder"));
    setPlaceholderText(localized("record_shortcut"));
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(kMinimumWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setClearButtonEnabled(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    // Typing never edits the text (see keyPressEvent), so the clear button is the one edit reported.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty()) {
            clearShortcut();
        }
    });
    m_changeObserver = m_context.registry.notifications().addObserver(
        core::shortcuts::shortcutByNameDidChange, [this](const core::shortcuts::Notification& notification) {
            const auto found = notification.userInfo.find("name");
            const auto* changed =
                found != notification.userInfo.end() ? std::get_if<core::shortcuts::Name>(&found->second) : nullptr;
            if (changed != nullptr && *changed == m_name) {
                refresh();
            }
        });
    refresh();
}

RecorderField::~RecorderField() {
    if (m_recording) {
        endRecording();
    }
}

void RecorderField::setShortcutName(const core::shortcuts::Name& name) {
    if (name.rawValue != m_name.rawValue) {
        m_name = name;
        refresh();
    }
}

QSize RecorderField::sizeHint() const {
    return {std::max(kMinimumWidth, QLineEdit::sizeHint().width() / 2), QLineEdit::sizeHint().height()};
}

void RecorderField::refresh() {
    const auto shortcut = m_context.registry.getShortcut(m_name);
    setText(shortcut ? m_context.describe(*shortcut) : QString());
}

bool RecorderField::event(QEvent* event) {
    if (m_recording) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Every combination belongs to the recorder, not to the actions of the window.
            event->accept();
            return true;
        case QEvent::KeyPress:
            handleKey(*static_cast<QKeyEvent*>(event));
            return true;
        case QEvent::KeyRelease:
            return true;
        default:
            break;
        }
    }
    return QLineEdit::event(event);
}

// The window hands the focus to its first field when it opens or comes back; only the user's own moves start
// recording.
void RecorderField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::OtherFocusReason) {
        startRecording();
    }
}

void RecorderField::focusOutEvent(QFocusEvent* event) {
    // The keyboard grab keeps the focus; an alert or another window taking it ends recording.
    endRecording();
    QLineEdit::focusOutEvent(event);
}

void RecorderField::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    if (hasFocus() && !m_recording) {
        startRecording();
    }
}

// Keys are read as a combination while recording and passed on otherwise, e.g. Return to a default button.
void RecorderField::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

void RecorderField::inputMethodEvent(QInputMethodEvent* event) {
    event->ignore();
}

void RecorderField::hideEvent(QHideEvent* event) {
    endRecording();
    QLineEdit::hideEvent(event);
}

void RecorderField::startRecording() {
    if (m_recording || window() == nullptr || !isVisible()) {
        return;
    }
    m_recording = true;
    setPlaceholderText(localized("press_shortcut"));
    m_context.registry.setPaused(true);
    postRecorderActive(m_context.registry, true);
    grabKeyboard();
    m_mouseMonitor = std::make_unique<LocalEventMonitor>(
        QSet<QEvent::Type>{QEvent::MouseButtonRelease},
        [field = QPointer<RecorderField>(this)](QObject*, QEvent* event) {
            return field ? field->handleMouseUp(*static_cast<QMouseEvent*>(event)) : true;
        });
    m_mouseMonitor->start();
}

void RecorderField::endRecording() {
    if (!m_recording) {
        return;
    }
    m_recording = false;
    // Deleted later: this may run inside the monitor's own callback.
    if (m_mouseMonitor) {
        m_mouseMonitor.release()->deleteLater();
    }
    releaseKeyboard();
    // Sent at once rather than with Qt's next flush, so that the next key press already reaches the hot keys.
    if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_flush(x11->connection());
    }
    setPlaceholderText(localized("record_shortcut"));
    m_context.registry.setPaused(false);
    postRecorderActive(m_context.registry, false);
}

void RecorderField::blur() {
    endRecording();
    clearFocus();
}

bool RecorderField::handleMouseUp(const QMouseEvent& event) {
    const QRect slackBounds = rect().adjusted(-kClickSlack, -kClickSlack, kClickSlack, kClickSlack);
    if (!slackBounds.contains(mapFromGlobal(event.globalPosition().toPoint()))) {
        blur();
    }
    return true;
}

void RecorderField::clearShortcut() {
    m_context.registry.setShortcut(std::nullopt, m_name);
    refresh();
    if (m_onChange) {
        m_onChange(std::nullopt);
    }
    setFocus(Qt::OtherFocusReason);
    startRecording();
}

void RecorderField::handleKey(const QKeyEvent& event) {
    const int key = event.key();
    if (isModifierKey(key)) {
        return;
    }
    if (hasNoModifiers(event)) {
        if (key == Qt::Key_Tab) {
            // Moved on from here: without the focus the window would start its tab chain at this field again.
            endRecording();
            focusNextChild();
            return;
        }
        if (key == Qt::Key_Escape) {
            blur();
            return;
        }
        if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            clearShortcut();
            return;
        }
    }
    const std::optional<Shortcut> shortcut = app::shortcutOf(event);
    if (!shortcut || core::shortcuts::refusalOf(*shortcut)) {
        QApplication::beep();
        return;
    }
    if (const auto title = menuItemUsing(*shortcut)) {
        blur();
        alert(new QMessageBox(QMessageBox::Warning, QString(),
                              QString::fromStdString(core::shortcuts::localizedFormat(
                                  "keyboard_shortcut_used_by_menu_item", title->toStdString())),
                              QMessageBox::Ok, window()));
        return;
    }
    if (m_context.isSystemShortcut && m_context.isSystemShortcut(*shortcut)) {
        showSystemConflict(*shortcut);
        return;
    }
    store(*shortcut);
}

void RecorderField::store(const Shortcut& shortcut) {
    m_context.registry.setShortcut(shortcut, m_name);
    refresh();
    if (m_onChange) {
        m_onChange(shortcut);
    }
    blur();
}

std::optional<QString> RecorderField::menuItemUsing(const Shortcut& shortcut) const {
    for (QWidget* topLevel : QApplication::topLevelWidgets()) {
        QList<QAction*> actions = topLevel->findChildren<QAction*>();
        actions += topLevel->actions();
        for (const QAction* action : std::as_const(actions)) {
            for (const QKeySequence& sequence : action->shortcuts()) {
                if (m_context.shortcutOf(sequence) == shortcut) {
                    return action->text().remove(u'&');
                }
            }
        }
    }
    return std::nullopt;
}

void RecorderField::showSystemConflict(const Shortcut& shortcut) {
    blur();
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), localized("keyboard_shortcut_used_by_system"),
                                QMessageBox::NoButton, window());
    box->setInformativeText(localized("keyboard_shortcuts_can_be_changed"));
    QPushButton* ok = box->addButton(localized("ok"), QMessageBox::AcceptRole);
    QPushButton* force = box->addButton(localized("force_use_shortcut"), QMessageBox::DestructiveRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    connect(box, &QMessageBox::buttonClicked, this, [this, box, force, shortcut](QAbstractButton* button) {
        if (button == force) {
            box->setProperty(kStoredProperty, true);
            store(shortcut);
        }
    });
    alert(box);
}

// The alert is window-modal and answered asynchronously; unless it stored the shortcut, recording starts anew
// once it is gone.
void RecorderField::alert(QMessageBox* box) {
    if (m_alert) {
        m_alert->close();
    }
    m_alert = box;
    box->setObjectName(QStringLiteral("shortcutAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QDialog::finished, this, [this, box] {
        if (!box->property(kStoredProperty).toBool()) {
            setFocus(Qt::OtherFocusReason);
            startRecording();
        }
    });
    box->open();
}

} // namespace norik::app
