// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <QFileSystemWatcher>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "app/settings/ModelListRefresh.h"
#include "app/shortcuts/RecorderContext.h"
#include "core/preferences/SettingsStore.h"
#include "core/providers/LLMProvider.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace norik::core {
class HistoryStore;
class Preferences;
class SecretStore;
} // namespace norik::core

namespace norik::app {

// The settings window: the trigger shortcut, the provider with its API key or local address, the model, the
// explanation language and the history retention, plus clearing the history. There is no save step: every
// edit goes to the settings file or the secret store at once, and a change that another process writes to
// the settings file shows in the open window (a field that has the keyboard focus keeps what is typed).
// The model becomes a list to pick from whenever the provider lists its models. Nothing here reports an
// error: a failed listing leaves the free-text model field, a failed write leaves the stored value.
//
// One window lives as long as the app; closing it only hides it. Each showing starts from what is stored:
// the key, the model and the model list are read anew. Main thread only; the collaborators are borrowed and
// must outlive the window.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kContentWidth = 460;

    // `shortcuts` serves the recorder of the review shortcut.
    SettingsView(core::SettingsStore& settings, core::SecretStore& secrets, core::Preferences& preferences,
                 core::HistoryStore& history, RecorderContext& shortcuts,
                 ModelListRefresh::BaseUrls listingBaseUrls = ModelListRefresh::defaultBaseUrls(),
                 QWidget* parent = nullptr);
    SettingsView(const SettingsView&) = delete;
    SettingsView& operator=(const SettingsView&) = delete;

    // Shows the window, or brings the open one to the front and gives it the focus.
    void showAndRaise();
    // A paragraph above the settings, such as advice that concerns the whole session.
    void addNote(const QString& text);
    // What keeps Norik from working as set (history off, keys unencrypted, a damaged file set aside), one
    // sentence each, above the settings; the area is hidden when there are none.
    void setProblems(const QStringList& problems);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    [[nodiscard]] core::LLMProvider provider() const;
    [[nodiscard]] std::string modelKey() const;

    void buildForm();
    void watchSettingsFile();
    void rebuild();
    void readPersisted(bool forceLoad);
    void load();
    void write(std::string_view key, const core::SettingValue& value);

    void pickProvider(int index);
    void editKey(const QString& text);
    void editModel(const QString& text);
    void editEndpoint(const QString& text);
    void pickRetention(int index);
    void confirmClearHistory();
    void modelsListed(const QStringList& models);

    void showProvider();
    void showRetention(std::int64_t limit);
    void showBackendRows();
    void showModel();
    void refreshModelList();

    core::SettingsStore& m_settings;
    core::SecretStore& m_secrets;
    core::Preferences& m_preferences;
    core::HistoryStore& m_history;
    RecorderContext& m_shortcuts;
    ModelListRefresh m_refresh;
    QFileSystemWatcher m_watcher;
    QTimer m_reread;

    // The stored text, not the parsed provider: an unknown value is kept as it is and works as Anthropic.
    std::string m_providerText;
    std::string m_editingKey;
    std::string m_editingModel;
    QStringList m_modelList;
    // What the running listing was started for: provider text, key and endpoint.
    QString m_listedFor;

    QComboBox* m_provider = nullptr;
    QFormLayout* m_backend = nullptr;
    QVBoxLayout* m_column = nullptr;
    QLabel* m_problems = nullptr;
    QLabel* m_keyError = nullptr;
    QLineEdit* m_apiKey = nullptr;
    QLineEdit* m_localEndpoint = nullptr;
    QLineEdit* m_modelField = nullptr;
    QComboBox* m_modelPicker = nullptr;
    QLineEdit* m_language = nullptr;
    QComboBox* m_retention = nullptr;
    QPushButton* m_clearHistory = nullptr;
    // Set while the clear confirmation is shown.
    QPointer<QMessageBox> m_confirmation;
};

} // namespace norik::app
