// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings/SettingsView.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/settings/AutostartSwitch.h"
#include "app/shortcuts/Recorder.h"
#include "app/shortcuts/TriggerRouteRow.h"
#include "core/history/HistoryStore.h"
#include "core/preferences/FileStorage.h"
#include "core/preferences/Preferences.h"
#include "core/preferences/SecretStore.h"
#include "core/providers/ProviderCatalogue.h"
#include "core/shortcuts/NorikShortcuts.h"

namespace norik::app {

namespace {

using core::kExplanationLanguageKey;
using core::kLocalEndpointKey;
using core::kProviderKey;
using core::kRetentionLimitKey;

struct RetentionRow {
    const char* label;
    std::int64_t limit;
};

constexpr std::array kRetentionRows{
    RetentionRow{"Off", 0},
    RetentionRow{"Last 50", 50},
    RetentionRow{"Last 200", 200},
    RetentionRow{"Last 1000", 1000},
};

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string defaultText(std::string_view key) {
    const auto keys = core::settingKeys();
    const auto found = std::ranges::find(keys, key, &core::SettingKey::name);
    return found == keys.end() ? std::string() : std::string(found->defaultText);
}

std::string stringOr(const std::map<std::string, core::SettingValue>& values, std::string_view key) {
    const auto found = values.find(std::string(key));
    if (found != values.end()) {
        if (const auto* text = std::get_if<std::string>(&found->second)) {
            return *text;
        }
    }
    return defaultText(key);
}

// A programmatic change must not look like an edit: only textEdited and activated signals write, so the
// field is set quietly, and left alone while the user types in it.
void showStoredText(QLineEdit* field, const std::string& stored) {
    const QString text = QString::fromStdString(stored);
    if (!field->hasFocus() && field->text() != text) {
        field->setText(text);
    }
}

void addSection(QVBoxLayout* column, const QString& title, QFormLayout*& form) {
    auto* section = new QGroupBox(title, column->parentWidget());
    form = new QFormLayout(section);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    column->addWidget(section);
}

QLineEdit* textField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

} // namespace

SettingsView::SettingsView(core::SettingsStore& settings, core::SecretStore& secrets, core::Preferences& preferences,
                           core::HistoryStore& history, RecorderContext& shortcuts,
                           ModelListRefresh::BaseUrls listingBaseUrls, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_secrets(secrets), m_preferences(preferences), m_history(history),
      m_shortcuts(shortcuts), m_refresh(std::move(listingBaseUrls)) {
    setWindowTitle(QStringLiteral("Norik Settings"));
    buildForm();
    connect(&m_refresh, &ModelListRefresh::modelsListed, this, &SettingsView::modelsListed);
    // A burst of changes (a temporary file, the rename, the lock) is read once.
    m_reread.setSingleShot(true);
    m_reread.setInterval(0);
    connect(&m_reread, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            readPersisted(false);
        }
    });
    watchSettingsFile();
}

void SettingsView::buildForm() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // The window takes the content's size: fixed width, and a height that follows the rows shown.
    outer->setSizeConstraint(QLayout::SetFixedSize);
    auto* content = new QWidget(this);
    content->setFixedWidth(kContentWidth);
    outer->addWidget(content);
    auto* column = new QVBoxLayout(content);
    m_column = column;
    m_problems = new QLabel(content);
    m_problems->setObjectName(QStringLiteral("problems"));
    m_problems->setWordWrap(true);
    m_problems->setTextFormat(Qt::PlainText);
    m_problems->hide();
    column->addWidget(m_problems);

    QFormLayout* form = nullptr;
    addSection(column, QStringLiteral("Shortcut"), form);
    form->addRow(QStringLiteral("Review selection:"), new Recorder(core::shortcuts::reviewSelection(), m_shortcuts));
    if (m_shortcuts.triggerRoute.route != platform::desktop::TriggerRoute::x11Grab) {
        form->addRow(QString(), new TriggerRouteRow(m_shortcuts.triggerRoute, content));
    }

    addSection(column, QStringLiteral("AI backend"), m_backend);
    m_provider = new QComboBox(content);
    m_provider->setObjectName(QStringLiteral("provider"));
    for (const core::LLMProvider provider : core::kAllProviders) {
        m_provider->addItem(fromUtf8(core::displayLabel(provider)), fromUtf8(core::rawValue(provider)));
    }
    m_backend->addRow(QStringLiteral("Provider"), m_provider);
    m_apiKey = textField("apiKey", content);
    m_apiKey->setEchoMode(QLineEdit::Password);
    m_backend->addRow(QStringLiteral("API key"), m_apiKey);
    m_keyError = new QLabel(content);
    m_keyError->setObjectName(QStringLiteral("keyError"));
    m_keyError->setWordWrap(true);
    m_keyError->setTextFormat(Qt::PlainText);
    m_backend->addRow(m_keyError);
    m_backend->setRowVisible(m_keyError, false);
    m_localEndpoint = textField("localEndpoint", content);
    m_backend->addRow(QStringLiteral("Local endpoint"), m_localEndpoint);
    m_modelField = textField("model", content);
    m_backend->addRow(QStringLiteral("Model"), m_modelField);
    m_modelPicker = new QComboBox(content);
    m_modelPicker->setObjectName(QStringLiteral("modelPicker"));
    m_backend->addRow(QStringLiteral("Model"), m_modelPicker);

    addSection(column, QStringLiteral("Language"), form);
    m_language = textField("explanationLanguage", content);
    form->addRow(QStringLiteral("Explain mistakes in"), m_language);

    addSection(column, QStringLiteral("Privacy"), form);
    m_retention = new QComboBox(content);
    m_retention->setObjectName(QStringLiteral("retention"));
    for (const RetentionRow& row : kRetentionRows) {
        m_retention->addItem(QString::fromLatin1(row.label), QVariant::fromValue(row.limit));
    }
    form->addRow(QStringLiteral("Keep review history"), m_retention);
    m_clearHistory = new QPushButton(QStringLiteral("Clear history\u2026"), content);
    m_clearHistory->setObjectName(QStringLiteral("clearHistory"));
    // Widget styles have no destructive role for a push button; red text marks it, as in the desktops' dialogs.
    QPalette destructive = m_clearHistory->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xd7, 0x00, 0x15));
    m_clearHistory->setPalette(destructive);
    form->addRow(m_clearHistory);

    addSection(column, QStringLiteral("Startup"), form);
    form->addRow(new AutostartSwitch({}, content));

    connect(m_provider, &QComboBox::activated, this, &SettingsView::pickProvider);
    connect(m_apiKey, &QLineEdit::textEdited, this, &SettingsView::editKey);
    connect(m_localEndpoint, &QLineEdit::textEdited, this, &SettingsView::editEndpoint);
    connect(m_modelField, &QLineEdit::textEdited, this, &SettingsView::editModel);
    connect(m_modelPicker, &QComboBox::activated, this,
            [this](int index) { editModel(m_modelPicker->itemText(index)); });
    connect(m_language, &QLineEdit::textEdited, this,
            [this](const QString& text) { write(kExplanationLanguageKey, text.toStdString()); });
    connect(m_retention, &QComboBox::activated, this, &SettingsView::pickRetention);
    connect(m_clearHistory, &QPushButton::clicked, this, &SettingsView::confirmClearHistory);
}

void SettingsView::watchSettingsFile() {
    // The store replaces the file by a rename, which ends a watch on the file itself; the folder's watch sees
    // every replacement. The folder is made now so that even the first write is seen.
    const std::filesystem::path folder = m_settings.path().parent_path();
    if (!core::storage::ensureDirectory(folder)) {
        return;
    }
    m_watcher.addPath(QString::fromStdString(folder.string()));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_reread, qOverload<>(&QTimer::start));
}

core::LLMProvider SettingsView::provider() const {
    return core::providerFromRawValue(m_providerText).value_or(core::LLMProvider::anthropic);
}

std::string SettingsView::modelKey() const {
    return std::string(core::providerInfo(provider()).modelKey);
}

void SettingsView::addNote(const QString& text) {
    auto* note = new QLabel(text, m_column->parentWidget());
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    m_column->insertWidget(0, note);
}

void SettingsView::setProblems(const QStringList& problems) {
    m_problems->setText(problems.join(QLatin1Char('\n')));
    m_problems->setVisible(!problems.isEmpty());
}

void SettingsView::showAndRaise() {
    if (!isVisible()) {
        show();
    } else if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window coming back from the minimised state keeps what the user was doing.
    if (!event->spontaneous()) {
        rebuild();
    }
}

void SettingsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        m_refresh.cancel();
        m_listedFor.clear();
    }
}

void SettingsView::rebuild() {
    m_editingKey.clear();
    m_editingModel.clear();
    m_modelList.clear();
    m_listedFor.clear();
    readPersisted(true);
}

void SettingsView::readPersisted(bool forceLoad) {
    const auto values = m_settings.all();
    std::string providerText = stringOr(values, kProviderKey);
    const bool providerChanged = providerText != m_providerText;
    m_providerText = std::move(providerText);
    showProvider();
    showStoredText(m_localEndpoint, stringOr(values, kLocalEndpointKey));
    showStoredText(m_language, stringOr(values, kExplanationLanguageKey));
    showRetention(m_preferences.retentionLimit());
    if (forceLoad || providerChanged) {
        load();
    }
    showBackendRows();
    refreshModelList();
}

// Load reads the key and the model without writing them back. Writing what was just read would change
// nothing when the read succeeds, but a key that could not be read would delete the stored one, and the
// default model would be stored as if chosen. So only the user's edits and the listing's choice are written.
void SettingsView::load() {
    m_editingKey = m_secrets.read(std::string(core::providerInfo(provider()).apiKeyAccount)).value_or("");
    m_editingModel = m_preferences.model(provider());
    // Another provider's models are never offered: the list returns with this provider's listing.
    m_modelList.clear();
    m_apiKey->setText(QString::fromStdString(m_editingKey));
    showModel();
}

void SettingsView::write(std::string_view key, const core::SettingValue& value) {
    // A refused write leaves the file as it was; reading it back shows the stored value rather than the edit.
    if (!m_settings.set(key, value)) {
        m_reread.start();
    }
}

void SettingsView::pickProvider(int index) {
    std::string raw = m_provider->itemData(index).toString().toStdString();
    if (raw == m_providerText) {
        return;
    }
    m_providerText = std::move(raw);
    write(kProviderKey, m_providerText);
    load();
    showBackendRows();
    refreshModelList();
}

void SettingsView::editKey(const QString& text) {
    m_editingKey = text.toStdString();
    const auto stored = m_secrets.store(m_editingKey, std::string(core::providerInfo(provider()).apiKeyAccount));
    m_keyError->setText(
        stored ? QString()
               : QStringLiteral("The API key was not stored: %1.").arg(QString::fromStdString(stored.error())));
    m_backend->setRowVisible(m_keyError, !stored.has_value());
    refreshModelList();
}

void SettingsView::editModel(const QString& text) {
    m_editingModel = text.toStdString();
    write(modelKey(), m_editingModel);
}

void SettingsView::editEndpoint(const QString& text) {
    write(kLocalEndpointKey, text.toStdString());
    refreshModelList();
}

void SettingsView::pickRetention(int index) {
    const auto limit = m_retention->itemData(index).value<std::int64_t>();
    write(kRetentionLimitKey, limit);
    showRetention(limit);
}

void SettingsView::confirmClearHistory() {
    if (m_confirmation) {
        m_confirmation->raise();
        m_confirmation->activateWindow();
        return;
    }
    m_confirmation =
        new QMessageBox(QMessageBox::Warning, windowTitle(),
                        QStringLiteral("Clear all stored corrections and mistake stats?"), QMessageBox::NoButton, this);
    QPushButton* clear = m_confirmation->addButton(QStringLiteral("Clear history"), QMessageBox::DestructiveRole);
    QPushButton* cancel = m_confirmation->addButton(QMessageBox::Cancel);
    m_confirmation->setDefaultButton(cancel);
    m_confirmation->setEscapeButton(cancel);
    connect(m_confirmation, &QMessageBox::buttonClicked, this, [this, clear](QAbstractButton* button) {
        if (button == clear) {
            m_history.clearAll();
        }
    });
    connect(m_confirmation, &QDialog::finished, m_confirmation, &QObject::deleteLater);
    m_confirmation->open();
}

void SettingsView::modelsListed(const QStringList& models) {
    m_modelList = models;
    if (!m_modelList.isEmpty() && !m_modelList.contains(QString::fromStdString(m_editingModel))) {
        editModel(m_modelList.first());
    }
    showModel();
}

void SettingsView::showProvider() {
    m_provider->setCurrentIndex(m_provider->findData(QString::fromStdString(m_providerText)));
}

void SettingsView::showRetention(std::int64_t limit) {
    // A limit set elsewhere to another number is shown as it is, in a row of its own, rather than rewritten.
    while (m_retention->count() > static_cast<int>(kRetentionRows.size())) {
        m_retention->removeItem(m_retention->count() - 1);
    }
    int index = m_retention->findData(QVariant::fromValue(limit));
    if (index < 0) {
        m_retention->addItem(QStringLiteral("Last %1").arg(limit), QVariant::fromValue(limit));
        index = m_retention->count() - 1;
    }
    m_retention->setCurrentIndex(index);
}

void SettingsView::showBackendRows() {
    const bool local = m_providerText == core::rawValue(core::LLMProvider::local);
    m_backend->setRowVisible(m_apiKey, !local);
    m_backend->setRowVisible(m_localEndpoint, local);
}

void SettingsView::showModel() {
    const bool picker = !m_modelList.isEmpty();
    const QString model = QString::fromStdString(m_editingModel);
    if (picker) {
        m_modelPicker->clear();
        m_modelPicker->addItems(m_modelList);
        m_modelPicker->setCurrentIndex(m_modelPicker->findText(model, Qt::MatchExactly | Qt::MatchCaseSensitive));
    } else if (m_modelField->text() != model) {
        m_modelField->setText(model);
    }
    m_backend->setRowVisible(m_modelField, !picker);
    m_backend->setRowVisible(m_modelPicker, picker);
}

// Restarted only when what the listing depends on has changed, so re-reading an unchanged file costs nothing.
void SettingsView::refreshModelList() {
    const QString endpoint = m_localEndpoint->text();
    const QString listedFor =
        QString::fromStdString(m_providerText) + u'|' + QString::fromStdString(m_editingKey) + u'|' + endpoint;
    if (listedFor == m_listedFor) {
        return;
    }
    m_listedFor = listedFor;
    m_refresh.restart(provider(), m_editingKey, endpoint.toStdString());
}

} // namespace norik::app
