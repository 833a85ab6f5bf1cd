// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/ReviewViews.h"

#include <utility>

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "app/presentation/Theme.h"

namespace norik::app {
namespace {

using theme::TextStyle;

QLabel* textLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // The model's text is shown exactly as written: no rich text, no links.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label->setPalette(palette);
    return label;
}

QLabel* wrappedLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    QLabel* label = textLabel(text, font, colour, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    return label;
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct SectionStyle {
    const char* name;
    QString title;
    Symbol symbol;
    QColor colour;
};

// A titled card; the caller adds the body to the returned layout.
QVBoxLayout* addSection(QVBoxLayout* into, const SectionStyle& style, const std::optional<QString>& copyText,
                        std::chrono::milliseconds copiedDuration) {
    auto* card = new Card(12, 0.05, into->parentWidget());
    card->setObjectName(QString::fromLatin1(style.name));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    const QFont titleFont = theme::font(TextStyle::subheadline, QFont::DemiBold);
    header->addWidget(new SymbolIcon(style.symbol, style.colour, theme::symbolSize(titleFont), card));
    header->addWidget(textLabel(style.title, titleFont, theme::primary(), card));
    header->addStretch(1);
    if (copyText) {
        auto* copy = new CopyButton(*copyText, copiedDuration, card);
        copy->setObjectName(QStringLiteral("copy"));
        header->addWidget(copy);
    }
    layout->addLayout(header);
    into->addWidget(card);
    return layout;
}

void addSelectableBody(QVBoxLayout* section, const QString& text) {
    QLabel* body = wrappedLabel(text, theme::font(TextStyle::body), theme::primary(), section->parentWidget());
    body->setObjectName(QStringLiteral("body"));
    body->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    body->setCursor(Qt::IBeamCursor);
    section->addWidget(body);
}

void addIssue(QVBoxLayout* list, const core::TutorResult::Issue& issue) {
    QWidget* parent = list->parentWidget();
    auto* entry = new QVBoxLayout;
    entry->setSpacing(6);
    entry->addWidget(new CategoryPill(core::mistake_category::normalized(issue.category), parent), 0, Qt::AlignLeft);

    auto* excerptBox = new Card(6, 0.06, parent);
    auto* excerptLayout = new QVBoxLayout(excerptBox);
    excerptLayout->setContentsMargins(8, 5, 8, 5);
    excerptLayout->addWidget(
        wrappedLabel(fromUtf8(issue.excerpt), theme::monospacedFont(TextStyle::callout), theme::primary(), excerptBox));
    entry->addWidget(excerptBox);

    entry->addWidget(
        wrappedLabel(fromUtf8(issue.explanation), theme::font(TextStyle::callout), theme::secondary(), parent));
    list->addLayout(entry);
}

} // namespace

Card::Card(qreal cornerRadius, qreal fillOpacity, QWidget* parent)
    : QWidget(parent), m_cornerRadius(cornerRadius), m_fillOpacity(fillOpacity) {}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::primary(m_fillOpacity));
    painter.drawRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
}

CapsuleLabel::CapsuleLabel(const QString& text, const QFont& font, const QColor& textColour, const QColor& fill,
                           QMargins padding, QWidget* parent)
    : QLabel(text, parent), m_fill(fill) {
    setTextFormat(Qt::PlainText);
    setFont(font);
    setContentsMargins(padding);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, textColour);
    setPalette(palette);
}

void CapsuleLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill);
        const qreal radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }
    QLabel::paintEvent(event);
}

CategoryPill::CategoryPill(core::MistakeCategory category, QWidget* parent)
    : CapsuleLabel(QString::fromStdString(core::mistake_category::displayLabel(category)),
                   theme::font(TextStyle::caption2, QFont::Bold), theme::categoryColour(category),
                   theme::withOpacity(theme::categoryColour(category), 0.18), QMargins(7, 3, 7, 3), parent) {}

QColor CategoryPill::colour() const {
    return palette().color(QPalette::WindowText);
}

ScoreBadge::ScoreBadge(std::int64_t score, QWidget* parent) : QWidget(parent), m_colour(theme::scoreColour(score)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 5, 10, 5);
    layout->setSpacing(6);
    // Holds the place of the dot, which paintEvent draws.
    auto* dot = new QWidget(this);
    dot->setFixedSize(8, 8);
    layout->addWidget(dot);
    QLabel* text =
        textLabel(QStringLiteral("%1/10").arg(score), theme::font(TextStyle::headline), theme::primary(), this);
    text->setObjectName(QStringLiteral("score"));
    layout->addWidget(text);
}

void ScoreBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::withOpacity(m_colour, 0.15));
    const qreal radius = height() / 2.0;
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    const QWidget* dot = layout()->itemAt(0)->widget();
    painter.setBrush(m_colour);
    painter.drawEllipse(QRectF(dot->geometry()));
}

CopyButton::CopyButton(QString text, std::chrono::milliseconds copiedDuration, QWidget* parent)
    : SymbolButton(Symbol::docOnDoc, theme::secondary(), theme::symbolSize(theme::font(TextStyle::caption)), parent),
      m_text(std::move(text)), m_copiedDuration(copiedDuration) {
    setToolTip(QStringLiteral("Copy"));
    connect(this, &QAbstractButton::clicked, this, &CopyButton::copy);
}

void CopyButton::copy() {
    QGuiApplication::clipboard()->setText(m_text, QClipboard::Clipboard);
    setCopied(true);
    // One timer per press; whichever ends first shows the copy symbol again.
    QTimer::singleShot(m_copiedDuration, this, [this] { setCopied(false); });
}

void CopyButton::setCopied(bool copied) {
    m_copied = copied;
    if (copied) {
        setSymbol(Symbol::checkmark, QColor::fromRgba(theme::kGreen));
    } else {
        setSymbol(Symbol::docOnDoc, theme::secondary());
    }
}

NorikSpinner::NorikSpinner(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_rotation.setStartValue(0.0);
    m_rotation.setEndValue(360.0);
    m_rotation.setDuration(700);
    m_rotation.setLoopCount(-1);
    m_rotation.setEasingCurve(QEasingCurve::Linear);
    connect(&m_rotation, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

bool NorikSpinner::isSpinning() const {
    return m_rotation.state() == QAbstractAnimation::Running;
}

QSize NorikSpinner::sizeHint() const {
    return {14, 14};
}

void NorikSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(theme::primary(0.2), 2));
    painter.drawEllipse(circle);
    painter.translate(circle.center());
    painter.rotate(isSpinning() ? m_rotation.currentValue().toDouble() : 0.0);
    painter.translate(-circle.center());
    painter.setPen(QPen(theme::primary(0.85), 2, Qt::SolidLine, Qt::RoundCap));
    // A quarter of the circle starting at twelve o'clock and going clockwise (Qt angles run anticlockwise).
    painter.drawArc(circle, 90 * 16, -90 * 16);
}

void NorikSpinner::showEvent(QShowEvent*) {
    m_rotation.start();
}

void NorikSpinner::hideEvent(QHideEvent*) {
    m_rotation.stop();
}

ReviewLoadingView::ReviewLoadingView(std::chrono::milliseconds slowDelay, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);

    auto* status = new QHBoxLayout;
    status->setSpacing(8);
    status->addWidget(new NorikSpinner(this));
    status->addWidget(
        textLabel(QStringLiteral("Reviewing…"), theme::font(TextStyle::callout), theme::secondary(), this));
    layout->addLayout(status);
    layout->setAlignment(status, Qt::AlignHCenter);

    m_hint = textLabel(QStringLiteral("Press Esc to cancel"), theme::font(TextStyle::caption),
                       theme::withOpacity(theme::tertiary(), 0.0), this);
    m_hint->setObjectName(QStringLiteral("slowHint"));
    layout->addWidget(m_hint, 0, Qt::AlignHCenter);

    m_slowTimer.setSingleShot(true);
    m_slowTimer.setInterval(slowDelay);
    connect(&m_slowTimer, &QTimer::timeout, this, &ReviewLoadingView::becomeSlow);
}

void ReviewLoadingView::showEvent(QShowEvent*) {
    if (!m_slow) {
        m_slowTimer.start();
    }
}

void ReviewLoadingView::hideEvent(QHideEvent*) {
    // Off screen the wait is abandoned, like a task bound to the view's lifetime.
    m_slowTimer.stop();
}

void ReviewLoadingView::becomeSlow() {
    m_slow = true;
    QPalette palette = m_hint->palette();
    palette.setColor(QPalette::WindowText, theme::tertiary());
    m_hint->setPalette(palette);
}

ReviewMessageView::ReviewMessageView(Kind kind, const QString& message, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(10);
    const bool error = kind == Kind::error;
    const int iconSize = theme::symbolSize(theme::font(TextStyle::title2));
    auto* icon = new SymbolIcon(error ? Symbol::exclamationmarkTriangleFill : Symbol::textCursor,
                                error ? QColor::fromRgba(theme::kOrange) : theme::secondary(), iconSize, this);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    QLabel* text = wrappedLabel(message, theme::font(TextStyle::callout), theme::secondary(), this);
    text->setObjectName(QStringLiteral("message"));
    text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(text);
}

ReviewView::ReviewView(const core::TutorResult& result, const std::optional<QString>& note,
                       std::chrono::milliseconds copiedDuration, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);

    if (note) {
        auto* box = new Card(10, 0.05, this);
        box->setObjectName(QStringLiteral("note"));
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(10, 10, 10, 10);
        row->setSpacing(6);
        const QFont caption = theme::font(TextStyle::caption);
        row->addWidget(new SymbolIcon(Symbol::infoCircle, theme::secondary(), theme::symbolSize(caption), box), 0,
                       Qt::AlignTop);
        row->addWidget(wrappedLabel(*note, caption, theme::secondary(), box), 1);
        layout->addWidget(box);
    }

    const QString corrected = fromUtf8(result.corrected);
    const QString improved = fromUtf8(result.improved);
    addSelectableBody(addSection(layout,
                                 {"corrected", QStringLiteral("Corrected"), Symbol::checkmarkSealFill,
                                  QColor::fromRgba(theme::kGreen)},
                                 corrected, copiedDuration),
                      corrected);
    addSelectableBody(
        addSection(layout,
                   {"improved", QStringLiteral("More natural"), Symbol::sparkles, QColor::fromRgba(theme::kYellow)},
                   improved, copiedDuration),
        improved);
    if (!result.issues.empty()) {
        QVBoxLayout* section = addSection(
            layout,
            {"whatToLearn", QStringLiteral("What to learn"), Symbol::graduationcapFill, QColor::fromRgba(theme::kBlue)},
            std::nullopt, copiedDuration);
        auto* list = new QVBoxLayout;
        list->setSpacing(12);
        section->addLayout(list);
        for (const auto& issue : result.issues) {
            addIssue(list, issue);
        }
    }
}

} // namespace norik::app
