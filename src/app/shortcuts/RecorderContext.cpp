// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shortcuts/RecorderContext.h"

#include <array>
#include <utility>

#include "core/shortcuts/Description.h"
#include "core/shortcuts/KeyCombination.h"
#include "core/shortcuts/KeyTable.h"

namespace norik::app {

namespace {

// Norik's key and modifier names where Qt's portable text spells them otherwise.
constexpr std::array<std::pair<const char*, const char*>, 5> kQtSpellings{{
    {"Super+", "Meta+"},
    {"Page Up", "PgUp"},
    {"Page Down", "PgDown"},
    {"Delete", "Del"},
    {"Insert", "Ins"},
}};

} // namespace

QString RecorderContext::describe(const core::shortcuts::Shortcut& shortcut) const {
    return QString::fromStdString(core::shortcuts::wordsDescription(shortcut, layout));
}

std::optional<core::shortcuts::Shortcut> RecorderContext::shortcutOf(const QKeySequence& sequence) const {
    if (layout == nullptr || sequence.isEmpty()) {
        return std::nullopt;
    }
    const QString text = QKeySequence(sequence[0]).toString(QKeySequence::PortableText);
    const auto shortcut = core::shortcuts::parseWords(text.toStdString(), *layout);
    return shortcut ? std::optional(*shortcut) : std::nullopt;
}

QKeySequence RecorderContext::keySequenceOf(const core::shortcuts::Shortcut& shortcut) const {
    const auto special = core::shortcuts::specialKey(shortcut.key());
    if (special && *special >= core::shortcuts::SpecialKey::keypad0) {
        return {};
    }
    QString text = describe(shortcut);
    for (const auto& [ours, qt] : kQtSpellings) {
        text.replace(QString::fromLatin1(ours), QString::fromLatin1(qt));
    }
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    return sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown ? QKeySequence() : sequence;
}

} // namespace norik::app
