// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/ShortcutBinding.h"

#include <utility>

#include <QObject>

#include "core/shortcuts/Notifications.h"
#include "core/shortcuts/Registry.h"

namespace norik::app {

namespace {

using core::shortcuts::Name;
using core::shortcuts::Notification;

// Names the one binding child of an action.
constexpr const char* kBindingName = "norikShortcutBinding";

// Lives as a child of the action it binds, so that the binding ends with the action.
class ActionBinding final : public QObject {
public:
    ActionBinding(QAction& action, RecorderContext& context, Name name, bool outsideRecording)
        : QObject(&action), m_action(action), m_context(context), m_name(std::move(name)) {
        setObjectName(QString::fromLatin1(kBindingName));
        auto& notifications = context.registry.notifications();
        m_changeObserver = notifications.addObserver(
            core::shortcuts::shortcutByNameDidChange, [this](const Notification& notification) {
                const auto found = notification.userInfo.find("name");
                const auto* changed =
                    found != notification.userInfo.end() ? std::get_if<Name>(&found->second) : nullptr;
                if (changed != nullptr && *changed == m_name) {
                    apply();
                }
            });
        if (outsideRecording) {
            m_recorderObserver = notifications.addObserver(
                core::shortcuts::recorderActiveStatusDidChange, [this](const Notification& notification) {
                    const auto found = notification.userInfo.find("isActive");
                    const auto* active =
                        found != notification.userInfo.end() ? std::get_if<bool>(&found->second) : nullptr;
                    m_recording = active != nullptr && *active;
                    apply();
                });
        }
        apply();
    }

private:
    void apply() {
        const auto shortcut = m_recording ? std::nullopt : m_context.registry.getShortcut(m_name);
        m_action.setShortcut(shortcut ? m_context.keySequenceOf(*shortcut) : QKeySequence());
    }

    QAction& m_action;
    RecorderContext& m_context;
    Name m_name;
    bool m_recording = false;
    core::shortcuts::NotificationCenter::Observer m_changeObserver;
    core::shortcuts::NotificationCenter::Observer m_recorderObserver;
};

class EventStream final : public QObject {
public:
    EventStream(QWidget& widget, core::shortcuts::EventSubscription subscription)
        : QObject(&widget), m_subscription(std::move(subscription)) {}

private:
    core::shortcuts::EventSubscription m_subscription;
};

void bind(QAction& action, RecorderContext& context, const std::optional<Name>& name, bool outsideRecording) {
    for (QObject* old : action.findChildren<QObject*>(QString::fromLatin1(kBindingName), Qt::FindDirectChildrenOnly)) {
        delete old;
    }
    if (name) {
        new ActionBinding(action, context, *name, outsideRecording);
    } else {
        action.setShortcut(QKeySequence());
    }
}

} // namespace

void bindShortcut(QAction& action, RecorderContext& context, const std::optional<Name>& name) {
    bind(action, context, name, false);
}

void bindShortcutOutsideRecording(QAction& action, RecorderContext& context, const Name& name) {
    bind(action, context, name, true);
}

void onKeyboardShortcut(QWidget& widget, RecorderContext& context, const Name& name,
                        std::function<void(core::shortcuts::EventType)> onEvent) {
    new EventStream(widget, context.registry.events(name, std::move(onEvent)));
}

void onKeyboardShortcut(QWidget& widget, RecorderContext& context, const Name& name, core::shortcuts::EventType type,
                        std::function<void()> onEvent) {
    new EventStream(widget, context.registry.events(type, name, std::move(onEvent)));
}

} // namespace norik::app
