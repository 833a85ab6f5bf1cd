// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include <QColor>
#include <QFont>

#include "core/tutor/MistakeCategory.h"

// The panel's look on the desktop: text styles scaled from the desktop font, the dark-mode colours, and
// the colour rules of scores and categories. Main thread only (fonts read the application font).
namespace norik::app::theme {

enum class TextStyle { body, callout, subheadline, caption, caption2, headline, title2 };

// The desktop font scaled for `style`; headline is bold unless `weight` asks for more.
[[nodiscard]] QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
// The desktop's fixed-pitch font at the size of `style`.
[[nodiscard]] QFont monospacedFont(TextStyle style);
// The side of a symbol image drawn next to text of `font`, in device-independent pixels.
[[nodiscard]] int symbolSize(const QFont& font);

inline constexpr QRgb kGreen = 0xFF30D158;
inline constexpr QRgb kYellow = 0xFFFFD60A;
inline constexpr QRgb kBlue = 0xFF0A84FF;
inline constexpr QRgb kOrange = 0xFFFF9F0A;
inline constexpr QRgb kRed = 0xFFFF453A;
inline constexpr QRgb kPurple = 0xFFBF5AF2;
inline constexpr QRgb kTeal = 0xFF40C8E0;
inline constexpr QRgb kPink = 0xFFFF375F;
inline constexpr QRgb kGray = 0xFF98989D;

// `colour` with its alpha set to `opacity` (0 to 1).
[[nodiscard]] QColor withOpacity(QColor colour, double opacity);
// The primary text colour of the dark appearance (white) at `opacity`.
[[nodiscard]] QColor primary(double opacity = 1.0);
[[nodiscard]] QColor secondary();
[[nodiscard]] QColor tertiary();

// Red up to 4 (negative scores too), orange 5 and 6, yellow 7 and 8, green from 9 (above 10 too).
[[nodiscard]] QColor scoreColour(std::int64_t score);
[[nodiscard]] QColor categoryColour(core::MistakeCategory category);

} // namespace norik::app::theme
