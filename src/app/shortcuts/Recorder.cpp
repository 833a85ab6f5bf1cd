// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/Recorder.h"

#include <utility>

#include <QGridLayout>
#include <QLabel>

namespace norik::app {

QString unregisteredShortcutWarning(const QString& shortcut) {
    return QStringLiteral("%1 does not work: another program uses it. Choose another shortcut.").arg(shortcut);
}

Recorder::Recorder(const core::shortcuts::Name& name, RecorderContext& context, const QString& label,
                   RecorderField::OnChange onChange, QWidget* parent)
    : QWidget(parent), m_context(context), m_field(new RecorderField(name, context, std::move(onChange), this)),
      m_warning(new QLabel(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    const int fieldColumn = label.isEmpty() ? 0 : 1;
    if (!label.isEmpty()) {
        auto* title = new QLabel(label, this);
        title->setForegroundRole(QPalette::PlaceholderText);
        grid->addWidget(title, 0, 0, Qt::AlignVCenter);
        grid->setHorizontalSpacing(8);
    }
    grid->addWidget(m_field, 0, fieldColumn, Qt::AlignLeft | Qt::AlignVCenter);
    m_warning->setObjectName(QStringLiteral("shortcutWarning"));
    m_warning->setWordWrap(true);
    QPalette warningColours = m_warning->palette();
    warningColours.setColor(QPalette::WindowText, QColor(0xb0, 0x3a, 0x00));
    m_warning->setPalette(warningColours);
    grid->addWidget(m_warning, 1, 0, 1, fieldColumn + 1);

    auto& notifications = m_context.registry.notifications();
    const auto refresh = [this](const core::shortcuts::Notification&) { refreshWarning(); };
    m_changeObserver = notifications.addObserver(core::shortcuts::shortcutByNameDidChange, refresh);
    m_failureObserver = notifications.addObserver(core::shortcuts::hotKeyRegistrationDidFail, refresh);
    refreshWarning();
}

QString Recorder::warning() const {
    return m_warning->isHidden() ? QString() : m_warning->text();
}

void Recorder::refreshWarning() {
    const core::shortcuts::Name& name = m_field->shortcutName();
    const auto shortcut = m_context.registry.getShortcut(name);
    const bool broken = shortcut && !m_context.registry.isRegistered(name);
    m_warning->setText(broken ? unregisteredShortcutWarning(m_context.describe(*shortcut)) : QString());
    m_warning->setVisible(broken);
}

} // namespace norik::app
