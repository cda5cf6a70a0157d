#pragma once

#include <QColor>

// Relative luminance and contrast ratio as WCAG 2.x defines them, and the nearest colours that reach a ratio.

constexpr double kReadableTextRatio = 4.5; // text up to 18 px bold
constexpr double kReadableGraphicRatio = 3.0; // focus rings and other non-text marks

double relativeLuminance(const QColor &colour);
double contrastRatio(const QColor &a, const QColor &b);

// The wanted background, or the same hue made darker (under light text) or lighter (under dark text) just as
// far as the text needs; black or white when no lightness of the hue is enough.
QColor readableBackground(const QColor &wanted, const QColor &text, double ratio = kReadableTextRatio);

// The wanted text colour, or the same hue moved away from the background's lightness just as far as needed.
QColor readableText(const QColor &wanted, const QColor &background, double ratio = kReadableTextRatio);
