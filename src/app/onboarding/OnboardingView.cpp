// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/onboarding/OnboardingView.h"

#include <utility>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/shortcuts/Recorder.h"
#include "app/shortcuts/TriggerRouteRow.h"
#include "core/shortcuts/NorikShortcuts.h"

namespace norik::app {

namespace {

constexpr int kSpacing = 18;
constexpr int kPadding = 28;
constexpr int kHeaderSpacing = 6;
constexpr int kCardSpacing = 12;
constexpr int kCardContentSpacing = 8;
constexpr int kCardPadding = 14;
constexpr qreal kCardRadius = 12;
constexpr qreal kCardOpacity = 0.05;
constexpr int kBadgeSize = 24;
constexpr int kPollMilliseconds = 1000;
const QColor kDoneGreen(0x34, 0xc7, 0x59);

QLabel* bodyText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont callout = label->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.95);
    label->setFont(callout);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// A card of the window's text colour at a low opacity, so that it reads in light and dark themes alike.
class StepCard final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(static_cast<float>(kCardOpacity));
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), kCardRadius, kCardRadius);
        painter.fillPath(path, fill);
    }
};

} // namespace

// The step's number on the accent colour, or a check mark on green once the step is done.
class StepBadge final : public QWidget {
public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), m_number(number) {
        setFixedSize(kBadgeSize, kBadgeSize);
        setObjectName(QStringLiteral("stepBadge%1").arg(number));
    }

    void setDone(bool done) {
        if (done != m_done) {
            m_done = done;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_done ? kDoneGreen : palette().color(QPalette::Highlight));
        painter.drawEllipse(rect());
        QFont font = this->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * (m_done ? 0.75 : 0.85));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, m_done ? QStringLiteral("\u2713") : QString::number(m_number));
    }

private:
    int m_number;
    bool m_done = false;
};

namespace {

// The card of one step; the caller fills the returned column under the title.
QVBoxLayout* addStep(QVBoxLayout* column, StepBadge* badge, const QString& title) {
    auto* card = new StepCard(column->parentWidget());
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
    row->setSpacing(kCardSpacing);
    badge->setParent(card);
    row->addWidget(badge, 0, Qt::AlignTop);
    auto* content = new QVBoxLayout;
    content->setSpacing(kCardContentSpacing);
    auto* heading = new QLabel(title, card);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    content->addWidget(heading);
    row->addLayout(content, 1);
    column->addWidget(card);
    return content;
}

} // namespace

OnboardingView::OnboardingView(Actions actions, RecorderContext& shortcuts, QWidget* parent)
    : QDialog(parent), m_actions(std::move(actions)) {
    setWindowTitle(QStringLiteral("Welcome to Norik"));
    // Titled and closable only: no minimise, no maximise, no resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    m_column->setSpacing(kSpacing);

    auto* header = new QVBoxLayout;
    header->setSpacing(kHeaderSpacing);
    auto* title = new QLabel(QStringLiteral("Welcome to Norik"), this);
    QFont largeTitle = title->font();
    largeTitle.setPointSizeF(largeTitle.pointSizeF() * 2.4);
    largeTitle.setBold(true);
    title->setFont(largeTitle);
    header->addWidget(title);
    header->addWidget(
        bodyText(QStringLiteral("Select any text and get an instant language tutor at the top of your screen."), this));
    m_column->addLayout(header);

    m_copyBadge = new StepBadge(1, this);
    QVBoxLayout* copy = addStep(m_column, m_copyBadge, QStringLiteral("Let Norik copy"));
    copy->addWidget(bodyText(QStringLiteral("Norik reads your selection by simulating Copy - your desktop must let it "
                                            "send keys to other windows, as an X11 session does."),
                             this));
    m_grantedLabel = new QLabel(QStringLiteral("\u2714 Granted"), this);
    m_grantedLabel->setObjectName(QStringLiteral("granted"));
    QPalette green = m_grantedLabel->palette();
    green.setColor(QPalette::WindowText, kDoneGreen);
    m_grantedLabel->setPalette(green);
    copy->addWidget(m_grantedLabel);
    m_grant = new QPushButton(QStringLiteral("How to Review from Any Window\u2026"), this);
    m_grant->setObjectName(QStringLiteral("grant"));
    m_grant->setAutoDefault(false);
    copy->addWidget(m_grant, 0, Qt::AlignLeft);
    connect(m_grant, &QPushButton::clicked, this, [this] {
        if (m_actions.explainCopy) {
            m_actions.explainCopy();
        }
    });

    QVBoxLayout* backend = addStep(m_column, new StepBadge(2, this), QStringLiteral("Choose an AI backend"));
    backend->addWidget(bodyText(
        QStringLiteral("Run a local model with Ollama (free, private) or add an Anthropic / OpenAI key."), this));
    auto* openSettings = new QPushButton(QStringLiteral("Open Settings\u2026"), this);
    openSettings->setObjectName(QStringLiteral("openSettings"));
    openSettings->setAutoDefault(false);
    backend->addWidget(openSettings, 0, Qt::AlignLeft);
    connect(openSettings, &QPushButton::clicked, this, [this] {
        if (m_actions.openSettings) {
            m_actions.openSettings();
        }
    });

    QVBoxLayout* shortcut = addStep(m_column, new StepBadge(3, this), QStringLiteral("Use it anywhere"));
    shortcut->addWidget(bodyText(QStringLiteral("Select text in any app, then press the shortcut."), this));
    shortcut->addWidget(new Recorder(core::shortcuts::reviewSelection(), shortcuts, QStringLiteral("Shortcut")));
    if (shortcuts.triggerRoute.route != platform::desktop::TriggerRoute::x11Grab) {
        shortcut->addWidget(new TriggerRouteRow(shortcuts.triggerRoute, this));
    }

    m_column->addStretch(1);
    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    auto* getStarted = new QPushButton(QStringLiteral("Get started"), this);
    getStarted->setObjectName(QStringLiteral("getStarted"));
    getStarted->setDefault(true);
    footer->addWidget(getStarted);
    m_column->addLayout(footer);
    connect(getStarted, &QPushButton::clicked, this, [this] {
        if (m_actions.onDone) {
            m_actions.onDone();
        }
    });

    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &OnboardingView::pollCopy);
    pollCopy();
}

void OnboardingView::addOption(QWidget* option) {
    // Before the stretch and the footer.
    m_column->insertWidget(m_column->count() - 2, option);
}

void OnboardingView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    pollCopy();
    m_poll.start();
}

void OnboardingView::hideEvent(QHideEvent* event) {
    m_poll.stop();
    QDialog::hideEvent(event);
}

void OnboardingView::pollCopy() {
    m_granted = m_actions.canSendCopy && m_actions.canSendCopy();
    m_copyBadge->setDone(m_granted);
    m_grantedLabel->setVisible(m_granted);
    m_grant->setVisible(!m_granted);
}

} // namespace norik::app
