// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/NotchReviewPresenter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "app/instance/X11Launch.h"
#include "app/presentation/ReviewViews.h"
#include "app/presentation/Symbols.h"
#include "app/presentation/Theme.h"
#include "app/presentation/WorkArea.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

constexpr qreal kBottomCornerRadius = 22;
// Without a screen there is no top bar to measure; this is the height of a notch with a menu bar.
constexpr int kTopInsetWithoutScreen = 38;
constexpr int kResultHeightWithoutScreen = 504;
constexpr int kMinimumResultHeight = 240;
constexpr double kResultHeightShare = 0.72;

QPainterPath panelShape(const QRectF& rect) {
    // Square top corners under the screen edge, round bottom corners.
    const qreal r = std::min({kBottomCornerRadius, rect.width() / 2, rect.height()});
    QPainterPath path;
    path.moveTo(rect.topLeft());
    path.lineTo(rect.topRight());
    path.lineTo(rect.right(), rect.bottom() - r);
    path.arcTo(QRectF(rect.right() - 2 * r, rect.bottom() - 2 * r, 2 * r, 2 * r), 0, -90);
    path.lineTo(rect.left() + r, rect.bottom());
    path.arcTo(QRectF(rect.left(), rect.bottom() - 2 * r, 2 * r, 2 * r), 270, -90);
    path.closeSubpath();
    return path;
}

// Puts a mapped window on every workspace. Asked of the window manager once it manages the window: some (xfwm4)
// never map a window that asks for all desktops before it is mapped.
void showOnAllWorkspaces(const QWidget& window) {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const auto atom = [connection](std::string_view name) { return platform::x11::internAtom(connection, name); };
    constexpr std::uint32_t fromApplication = 1;
    const auto send = [&](xcb_atom_t type, std::uint32_t first, std::uint32_t second) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = static_cast<xcb_window_t>(window.winId());
        message.type = type;
        message.data.data32[0] = first;
        message.data.data32[1] = second;
        message.data.data32[3] = fromApplication;
        xcb_send_event(connection, 0, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    };
    // Window managers honour one or the other of the two ways to ask.
    constexpr std::uint32_t addState = 1;
    constexpr std::uint32_t allDesktops = 0xFFFFFFFF;
    send(atom("_NET_WM_STATE"), addState, atom("_NET_WM_STATE_STICKY"));
    send(atom("_NET_WM_DESKTOP"), allDesktops, fromApplication);
    xcb_flush(connection);
}

QEasingCurve cubicBezier(QPointF first, QPointF second) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(first, second, QPointF(1, 1));
    return curve;
}

// The two timing curves of the desktop the panel's motion was designed on.
QEasingCurve easeInEaseOut() {
    return cubicBezier({0.42, 0.0}, {0.58, 1.0});
}

QEasingCurve easeOut() {
    return cubicBezier({0.0, 0.0}, {0.58, 1.0});
}

QScreen* chosenScreen() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

int naturalHeight(QWidget* widget, int width) {
    return widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
}

QScrollArea* scrolling(QWidget* view, int height) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setFixedSize(NotchReviewPresenter::kResultWidth, height);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setWidgetResizable(true);
    view->setMinimumWidth(0);
    view->setMaximumWidth(QWIDGETSIZE_MAX);
    area->setWidget(view);
    // setWidget() makes the view paint a background; the panel's black has to show through instead.
    view->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);
    area->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    area->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 2px 2px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 90); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    return area;
}

} // namespace

NotchPanel::NotchPanel() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Norik"));
}

void NotchPanel::setContent(QWidget* content, QSize size) {
    if (m_content) {
        m_content->hide();
        m_content->deleteLater();
    }
    m_content = content;
    // Not in a layout: while the frame animates the content keeps its final size and the frame reveals it.
    content->setParent(this);
    content->setGeometry(QRect(QPoint(0, 0), size));
    content->show();
}

void NotchPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(panelShape(QRectF(rect())), Qt::black);
}

void NotchPanel::setShapeSize(QSize size) {
    if (size == m_shapeSize) {
        return;
    }
    m_shapeSize = size;
    // Without a compositing manager the transparent corners would show black; the shape cuts them off. It is
    // drawn in device pixels, since a mask in Qt's pixels would come out as steps at 2× scaling, and one pixel
    // wider than the painted shape so that the antialiased edge survives.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const qreal ratio = x11 != nullptr ? devicePixelRatioF() : 1.0;
    QBitmap mask((QSizeF(size) * ratio).toSize());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setPen(QPen(Qt::color1, 2));
    painter.setBrush(Qt::color1);
    painter.drawPath(panelShape(QRectF(QPointF(0, 0), QSizeF(size) * ratio)));
    painter.end();
    const QRegion region(mask);
    if (x11 == nullptr) {
        setMask(region);
        return;
    }
    std::vector<xcb_rectangle_t> rectangles;
    rectangles.reserve(static_cast<std::size_t>(region.rectCount()));
    for (const QRect& rect : region) {
        rectangles.push_back({static_cast<std::int16_t>(rect.x()), static_cast<std::int16_t>(rect.y()),
                              static_cast<std::uint16_t>(rect.width()), static_cast<std::uint16_t>(rect.height())});
    }
    xcb_shape_rectangles(x11->connection(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_BANDED,
                         static_cast<xcb_window_t>(winId()), 0, 0, static_cast<std::uint32_t>(rectangles.size()),
                         rectangles.data());
}

NotchReviewPresenter::NotchReviewPresenter(ReviewTimings timings, QObject* parent)
    : QObject(parent), m_timings(timings) {}

NotchReviewPresenter::~NotchReviewPresenter() {
    removeMonitors();
    delete m_panel;
}

void NotchReviewPresenter::showLoading() {
    auto* view = new ReviewLoadingView(m_timings.slowHintDelay, nullptr);
    view->setFixedWidth(kLoadingWidth);
    show(view, std::nullopt, m_loadingClosable);
}

void NotchReviewPresenter::showNotice(const QString& message) {
    auto* view = new ReviewMessageView(ReviewMessageView::Kind::notice, message, nullptr);
    view->setFixedWidth(kNoticeWidth);
    show(view, std::nullopt, true);
}

void NotchReviewPresenter::showError(const QString& message) {
    auto* view = new ReviewMessageView(ReviewMessageView::Kind::error, message, nullptr);
    view->setFixedWidth(kErrorWidth);
    show(view, std::nullopt, true);
}

void NotchReviewPresenter::showResult(const core::TutorResult& result, const std::optional<QString>& note) {
    const int maximum = maximumResultHeight(chosenScreen());
    auto* view = new ReviewView(result, note, m_timings.copiedDuration, nullptr);
    view->setFixedWidth(kResultWidth);
    QWidget* content = view;
    // Only the view's own height counts; the header and the top inset come on top of it.
    if (naturalHeight(view, kResultWidth) > maximum) {
        content = scrolling(view, maximum);
    }
    show(content, Header{result.score, QString::fromStdString(result.language)}, true);
}

void NotchReviewPresenter::setOnDismiss(std::function<void()> onDismiss) {
    m_onDismiss = std::move(onDismiss);
}

int NotchReviewPresenter::maximumResultHeight(const QScreen* screen) {
    if (screen == nullptr) {
        return kResultHeightWithoutScreen;
    }
    const auto share = static_cast<int>(std::floor(workArea(*screen).height() * kResultHeightShare));
    return std::max(share, kMinimumResultHeight);
}

QWidget* NotchReviewPresenter::buildRoot(QWidget* inner, int topInset, const std::optional<Header>& header,
                                         bool showClose) {
    auto* root = new QWidget;
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(0, topInset, 0, 0);
    layout->setSpacing(0);
    if (header || showClose) {
        auto* row = new QWidget(root);
        row->setObjectName(QStringLiteral("header"));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(14, 8, 14, 8);
        rowLayout->setSpacing(8);
        if (header) {
            rowLayout->addWidget(new ScoreBadge(header->score, row), 0, Qt::AlignVCenter);
        }
        rowLayout->addStretch(1);
        if (header) {
            auto* chip =
                new CapsuleLabel(header->language.toUpper(), theme::font(theme::TextStyle::caption, QFont::DemiBold),
                                 theme::secondary(), theme::primary(0.10), QMargins(8, 4, 8, 4), row);
            chip->setObjectName(QStringLiteral("language"));
            rowLayout->addWidget(chip, 0, Qt::AlignVCenter);
        }
        if (showClose) {
            const QFont body = theme::font(theme::TextStyle::body);
            auto* close = new SymbolButton(Symbol::xmarkCircleFill, theme::secondary(), theme::symbolSize(body), row);
            close->setObjectName(QStringLiteral("close"));
            close->setToolTip(QStringLiteral("Close"));
            connect(close, &QAbstractButton::clicked, this, &NotchReviewPresenter::dismiss);
            rowLayout->addWidget(close, 0, Qt::AlignVCenter);
        }
        layout->addWidget(row);
    }
    layout->addWidget(inner, 0, Qt::AlignHCenter);
    return root;
}

void NotchReviewPresenter::show(QWidget* content, const std::optional<Header>& header, bool showClose) {
    QScreen* screen = chosenScreen();
    // With a screen the panel hangs below what the desktop keeps at the top of it rather than reaching behind it
    // with its content pushed down: window managers such as xfwm4 move windows out of a dock's strut, which would
    // leave that padding as an empty band under the dock.
    QWidget* root = buildRoot(content, screen != nullptr ? 0 : kTopInsetWithoutScreen, header, showClose);
    const int width = root->sizeHint().width();
    const int height = naturalHeight(root, width);

    const bool reused = m_panel != nullptr;
    NotchPanel* panel = reused ? m_panel.data() : new NotchPanel;
    stopAnimation();
    panel->setContent(root, QSize(width, height));

    QPoint origin;
    if (screen != nullptr) {
        const QRect frame = screen->geometry();
        const int top = workArea(*screen).top();
        // At the screen's own top edge it sits 2 pixels above it so that no sliver of desktop shows above the panel.
        origin = QPoint(frame.x() + static_cast<int>(std::lround(frame.width() * 0.5 - width * 0.5)),
                        top > frame.top() ? top : frame.top() - 2);
    }
    m_target = QRect(origin, QSize(width, height));

    installMonitors();
    const bool wasShown = isShown();
    m_panel = panel;
    if (!wasShown) {
        emit shownChanged(true);
    }

    auto* group = new QParallelAnimationGroup(panel);
    // Shaped once for where the animation ends rather than at each of its frames, and only once the window has
    // its first geometry: the shape creates the native window.
    if (reused) {
        panel->setShapeSize(m_target.size());
        panel->setWindowOpacity(1.0);
        showForLaunch(*panel, std::exchange(m_launch, {}), [panel] { panel->show(); });
        panel->raise();
        auto* frame = new QPropertyAnimation(panel, "geometry", group);
        frame->setDuration(static_cast<int>(kResizeDuration.count()));
        frame->setEasingCurve(easeInEaseOut());
        frame->setStartValue(panel->geometry());
        frame->setEndValue(m_target);
    } else {
        const QRect start(m_target.topLeft(), QSize(width, std::max(1, height - kGrowth)));
        panel->setGeometry(start);
        panel->setShapeSize(m_target.size());
        panel->setWindowOpacity(0.0);
        showForLaunch(*panel, std::exchange(m_launch, {}), [panel] { panel->show(); });
        showOnAllWorkspaces(*panel);
        panel->raise();
        for (const auto& [property, from, to] :
             {std::tuple{QByteArrayLiteral("windowOpacity"), QVariant(0.0), QVariant(1.0)},
              std::tuple{QByteArrayLiteral("geometry"), QVariant(start), QVariant(m_target)}}) {
            auto* animation = new QPropertyAnimation(panel, property, group);
            animation->setDuration(static_cast<int>(kFadeInDuration.count()));
            animation->setEasingCurve(easeOut());
            animation->setStartValue(from);
            animation->setEndValue(to);
        }
    }
    // The local Escape only reaches this process when one of its windows has the keyboard.
    panel->activateWindow();
    activateAsOf(*panel, m_userTime);
    m_animation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void NotchReviewPresenter::answerLaunch(const QByteArray& startupId) {
    m_launch = startupId;
    m_userTime = launchTime(startupId).value_or(m_userTime);
}

void NotchReviewPresenter::stopAnimation() {
    if (auto* group = qobject_cast<QAbstractAnimation*>(m_animation.data())) {
        group->stop();
    }
}

void NotchReviewPresenter::installMonitors() {
    removeMonitors();
    qApp->installEventFilter(this);
    m_monitoring = true;
}

void NotchReviewPresenter::removeMonitors() {
    if (m_monitoring) {
        qApp->removeEventFilter(this);
        m_monitoring = false;
    }
}

bool NotchReviewPresenter::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Claiming the override keeps Escape shortcuts of other windows from firing; the press that follows
        // closes the panel and goes no further.
        event->accept();
        if (type == QEvent::KeyPress) {
            dismiss();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void NotchReviewPresenter::escapePressed() {
    if (isShown()) {
        dismiss();
    }
}

void NotchReviewPresenter::dismiss() {
    if (m_onDismiss) {
        // A copy, so that a callback that replaces itself does not destroy the function it runs in.
        const auto onDismiss = m_onDismiss;
        onDismiss();
    }
    removeMonitors();
    stopAnimation();
    if (NotchPanel* panel = m_panel) {
        m_panel = nullptr;
        const QWidgetList windows = QApplication::topLevelWidgets();
        if (std::ranges::none_of(windows, [panel](const QWidget* window) {
                // The tray icon is a widget too, docked into the panel of the desktop.
                return window != panel && window->isVisible() && window->windowType() != Qt::Popup &&
                       window->windowType() != Qt::ToolTip && !window->inherits("QSystemTrayIconSys");
            })) {
            // Before it hides, while the window system still knows which window has the focus.
            emit closingLastWindow(panel->winId());
        }
        panel->hide();
        // Later: the close button that may have called us lives in the panel.
        panel->deleteLater();
        emit shownChanged(false);
    }
}

} // namespace norik::app
