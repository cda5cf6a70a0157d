#include "contrast.h"

#include <cmath>

namespace {

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The colour of the same hue and saturation at the lightness, found by halving between the wanted lightness and
// the end it must move to, so the result stays as near the wanted colour as the ratio allows.
QColor moveLightness(const QColor &wanted, const QColor &other, double ratio, bool darker)
{
    const QColor hsl = wanted.toHsl();
    const auto at = [&](int lightness) {
        return QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness).toRgb();
    };
    int ok = darker ? 0 : 255; // the end: black or white
    int bad = hsl.lightness();
    if (contrastRatio(at(ok), other) < ratio)
        return darker ? QColor(Qt::black) : QColor(Qt::white);
    while (std::abs(ok - bad) > 1) {
        const int middle = (ok + bad) / 2;
        if (contrastRatio(at(middle), other) >= ratio)
            ok = middle;
        else
            bad = middle;
    }
    return at(ok);
}

} // namespace

double relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.red()) + 0.7152 * linear(rgb.green()) + 0.0722 * linear(rgb.blue());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableBackground(const QColor &wanted, const QColor &text, double ratio)
{
    if (contrastRatio(wanted, text) >= ratio)
        return wanted.toRgb();
    // Light text wants a darker background; dark text a lighter one. Text of middle lightness may only be
    // reachable from the other side.
    const bool darker = relativeLuminance(text) >= relativeLuminance(wanted);
    QColor moved = moveLightness(wanted, text, ratio, darker);
    if (contrastRatio(moved, text) < ratio)
        moved = moveLightness(wanted, text, ratio, !darker);
    return moved;
}

QColor readableText(const QColor &wanted, const QColor &background, double ratio)
{
    if (contrastRatio(wanted, background) >= ratio)
        return wanted.toRgb();
    const bool darker = relativeLuminance(background) >= 0.18; // the luminance with equal ratios to black and white
    QColor moved = moveLightness(wanted, background, ratio, darker);
    // A mid-grey background may need the other end.
    if (contrastRatio(moved, background) < ratio)
        moved = moveLightness(wanted, background, ratio, !darker);
    return moved;
}
