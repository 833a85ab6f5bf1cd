// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/presentation/Theme.h"

#include <algorithm>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <cmath>

namespace norik::app::theme {
namespace {

// The sizes of the macOS text styles relative to its 13-point body text.
double relativeSize(TextStyle style) {
    switch (style) {
    case TextStyle::body:
    case TextStyle::headline:
        return 1.0;
    case TextStyle::callout:
        return 12.0 / 13.0;
    case TextStyle::subheadline:
        return 11.0 / 13.0;
    case TextStyle::caption:
    case TextStyle::caption2:
        return 10.0 / 13.0;
    case TextStyle::title2:
        return 17.0 / 13.0;
    }
    return 1.0;
}

QFont scaled(QFont base, TextStyle style) {
    const double factor = relativeSize(style);
    // A font given in pixels reports no point size; scale whichever unit it uses.
    if (base.pointSizeF() > 0) {
        base.setPointSizeF(base.pointSizeF() * factor);
    } else {
        base.setPixelSize(std::max(1, static_cast<int>(std::lround(base.pixelSize() * factor))));
    }
    return base;
}

} // namespace

QFont font(TextStyle style, QFont::Weight weight) {
    QFont result = scaled(QApplication::font(), style);
    if (style == TextStyle::headline && weight < QFont::Bold) {
        weight = QFont::Bold;
    }
    result.setWeight(weight);
    return result;
}

QFont monospacedFont(TextStyle style) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont reference = font(style);
    if (reference.pointSizeF() > 0) {
        fixed.setPointSizeF(reference.pointSizeF());
    } else {
        fixed.setPixelSize(reference.pixelSize());
    }
    return fixed;
}

int symbolSize(const QFont& font) {
    // Symbol images are drawn a little taller than the capital letters they stand beside.
    return std::max(8, static_cast<int>(std::lround(QFontInfo(font).pixelSize() * 1.15)));
}

QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

QColor primary(double opacity) {
    return withOpacity(Qt::white, opacity);
}

QColor secondary() {
    return primary(0.55);
}

QColor tertiary() {
    return primary(0.25);
}

QColor scoreColour(std::int64_t score) {
    if (score <= 4) {
        return QColor::fromRgba(kRed);
    }
    if (score <= 6) {
        return QColor::fromRgba(kOrange);
    }
    if (score <= 8) {
        return QColor::fromRgba(kYellow);
    }
    return QColor::fromRgba(kGreen);
}

QColor categoryColour(core::MistakeCategory category) {
    using core::MistakeCategory;
    switch (category) {
    case MistakeCategory::grammar:
        return QColor::fromRgba(kBlue);
    case MistakeCategory::spelling:
        return QColor::fromRgba(kRed);
    case MistakeCategory::wordChoice:
        return QColor::fromRgba(kPurple);
    case MistakeCategory::register_:
        return QColor::fromRgba(kOrange);
    case MistakeCategory::punctuation:
        return QColor::fromRgba(kTeal);
    case MistakeCategory::syntax:
        return QColor::fromRgba(kPink);
    case MistakeCategory::other:
        return QColor::fromRgba(kGray);
    }
    return QColor::fromRgba(kGray);
}

} // namespace norik::app::theme
