// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/Symbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <cmath>

// Resources of a static library are registered by hand; the macro must be used outside any namespace.
static void registerPresentationIcons() {
    Q_INIT_RESOURCE(presentation);
}

namespace norik::app {
namespace {

const char* resourcePath(Symbol symbol) {
    switch (symbol) {
    case Symbol::infoCircle:
        return ":/norik/presentation/icons/info-circle.svg";
    case Symbol::checkmarkSealFill:
        return ":/norik/presentation/icons/checkmark-seal-fill.svg";
    case Symbol::sparkles:
        return ":/norik/presentation/icons/sparkles.svg";
    case Symbol::graduationcapFill:
        return ":/norik/presentation/icons/graduationcap-fill.svg";
    case Symbol::docOnDoc:
        return ":/norik/presentation/icons/doc-on-doc.svg";
    case Symbol::checkmark:
        return ":/norik/presentation/icons/checkmark.svg";
    case Symbol::xmarkCircleFill:
        return ":/norik/presentation/icons/xmark-circle-fill.svg";
    case Symbol::exclamationmarkTriangleFill:
        return ":/norik/presentation/icons/exclamationmark-triangle-fill.svg";
    case Symbol::textCursor:
        return ":/norik/presentation/icons/text-cursor.svg";
    }
    return "";
}

QByteArray symbolSource(Symbol symbol) {
    static const bool registered = (registerPresentationIcons(), true);
    (void)registered;
    QFile file(QString::fromLatin1(resourcePath(symbol)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QPixmap symbolPixmap(Symbol symbol, const QColor& colour, int size, qreal devicePixelRatio) {
    // Parsing the drawing costs more than the rest of a panel's first paint; every panel draws the same few.
    const QString key = QStringLiteral("norik-symbol/%1/%2/%3/%4")
                            .arg(static_cast<int>(symbol))
                            .arg(colour.rgba())
                            .arg(size)
                            .arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) {
        return pixmap;
    }
    // The drawings are white; recolouring the source keeps antialiased edges and holes exact.
    QByteArray source = symbolSource(symbol);
    source.replace("#FFFFFF", colour.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(source);
    const int side = static_cast<int>(std::ceil(size * devicePixelRatio));
    pixmap = QPixmap(side, side);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(colour.alphaF());
        renderer.render(&painter, QRectF(0, 0, side, side));
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

SymbolIcon::SymbolIcon(Symbol symbol, const QColor& colour, int size, QWidget* parent)
    : QWidget(parent), m_symbol(symbol), m_colour(colour), m_size(size) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolIcon::sizeHint() const {
    return {m_size, m_size};
}

void SymbolIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect square((width() - m_size) / 2, (height() - m_size) / 2, m_size, m_size);
    painter.drawPixmap(square.topLeft(), symbolPixmap(m_symbol, m_colour, m_size, devicePixelRatioF()));
}

SymbolButton::SymbolButton(Symbol symbol, const QColor& colour, int size, QWidget* parent)
    : QAbstractButton(parent), m_symbol(symbol), m_colour(colour), m_size(size) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolButton::setSymbol(Symbol symbol, const QColor& colour) {
    m_symbol = symbol;
    m_colour = colour;
    update();
}

QSize SymbolButton::sizeHint() const {
    // A little room around the image makes the button easier to hit without a visible frame.
    return {m_size + 4, m_size + 4};
}

void SymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(0.6);
    }
    const QPoint origin((width() - m_size) / 2, (height() - m_size) / 2);
    painter.drawPixmap(origin, symbolPixmap(m_symbol, m_colour, m_size, devicePixelRatioF()));
}

} // namespace norik::app
