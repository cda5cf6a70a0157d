#include "window_colours.h"

#include "contrast.h"
#include "window_platform.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>

namespace {

// The first family present is used; the CJK family supplies the Chinese glyphs where the others have none.
// The width is set on every font, so none takes it over from the window's font.
QFont makeFont(const QStringList &families, QFont::StyleHint hint, int pixels, bool bold)
{
    QFont font(families.first());
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStretch(QFont::Unstretched);
    return font;
}

// The colours a push button's face is drawn in by the style, top to bottom: styles shade it, lighter or darker
// than the palette's button colour.
QList<QColor> buttonShades(const QPalette &palette)
{
    QPushButton probe;
    probe.setPalette(palette);
    probe.resize(60, 24);
    const QImage face = probe.grab().toImage();
    QList<QColor> shades{palette.color(QPalette::Active, QPalette::Button)};
    const int ratio = qRound(face.devicePixelRatio());
    for (int y = 2 * ratio; y < face.height() - 2 * ratio; ++y) {
        const QColor shade = face.pixelColor(face.width() / 2, y);
        if (!shades.contains(shade))
            shades.append(shade);
    }
    return shades;
}

QColor readableOnEvery(QColor text, const QList<QColor> &backgrounds)
{
    // A little to spare: the style shades a pressed, focused or larger button a little differently.
    constexpr double kRatio = kReadableTextRatio + 0.5;
    // Each step only moves the text further from the backgrounds' lightness; two rounds settle it.
    for (int round = 0; round < 2; ++round) {
        for (const QColor &background : backgrounds)
            text = readableText(text, background, kRatio);
    }
    return text;
}

} // namespace

QFont sansFont(int pixels, bool bold)
{
    return makeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                     QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                     QStringLiteral("WenQuanYi Micro Hei")},
                    QFont::SansSerif, pixels, bold);
}

QFont microsoftSansFont(int pixels)
{
    return makeFont({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("MS Sans Serif"),
                     QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                     QStringLiteral("WenQuanYi Micro Hei")},
                    QFont::SansSerif, pixels, false);
}

QFont serifFont(int pixels, bool bold)
{
    return makeFont({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                     QStringLiteral("DejaVu Serif"), QStringLiteral("WenQuanYi Micro Hei")},
                    QFont::Serif, pixels, bold);
}

QFont narrowedWhereWide(QFont font)
{
    if (!QFontInfo(font).family().startsWith(QLatin1String("DejaVu")))
        return font;
    // Liberation Sans has Arial's widths, near the platform's own sans serif. Without it, bold DejaVu Sans is wider
    // than the face the layout was drawn for; semi-condensed, it keeps nearer to the room the panels give.
    // Liberation Serif has the widths of Times New Roman. DejaVu Serif, where it is missing, is far wider; its
    // condensed face comes nearer.
    if (font.styleHint() == QFont::Serif)
        font.setStretch(QFont::Condensed);
    else if (font.bold())
        font.setStretch(QFont::SemiCondensed);
    return font;
}

QColor colourFromBgr(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}


WindowColours windowColours(const QPalette &palette)
{
    const SystemColours system = systemColours(palette);
    WindowColours colours;
    colours.face = system.buttonFace;
    colours.faceText = readableText(palette.color(QPalette::Active, QPalette::WindowText), colours.face);
    QPalette buttonPalette = palette;
    buttonPalette.setColor(QPalette::Button, colours.face);
    const QList<QColor> shades = buttonShades(buttonPalette);
    colours.buttonText = readableOnEvery(palette.color(QPalette::Active, QPalette::ButtonText), shades);
    colours.red = readableOnEvery(QColor(Qt::red), shades);
    colours.highlight = readableBackground(system.highlight, QColor(Qt::yellow));
    colours.caption = readableBackground(system.activeCaption, QColor(Qt::white));
    colours.focus = readableText(palette.color(QPalette::Active, QPalette::Highlight), colours.face,
                                 kReadableGraphicRatio);
    // A desktop's tooltip colours need not read well either.
    colours.toolTip = system.toolTip;
    colours.toolTipText = readableText(system.toolTipText, colours.toolTip);
    return colours;
}

QColor disabledText(const QPalette &system, QPalette::ColorRole role, const QColor &text, const QColor &background)
{
    const QColor greyed = system.color(QPalette::Disabled, role);
    if (greyed != system.color(QPalette::Active, role)
        && contrastRatio(greyed, background) < contrastRatio(text, background))
        return greyed.toRgb();
    const int grey = (qGray(text.rgb()) + qGray(background.rgb())) / 2;
    return QColor(grey, grey, grey);
}

void setTextColour(QPalette &palette, QPalette::ColorRole role, const QColor &text, const QColor &background,
                   const QPalette &system)
{
    palette.setColor(QPalette::Active, role, text);
    palette.setColor(QPalette::Inactive, role, text);
    palette.setColor(QPalette::Disabled, role, disabledText(system, role, text, background));
}

void setPanelColours(QWidget &panel, const QColor &background, const QColor &text)
{
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    panel.setPalette(palette);
}

QPalette facePalette(const QPalette &system, const WindowColours &colours)
{
    QPalette palette = system;
    palette.setColor(QPalette::Window, colours.face);
    palette.setColor(QPalette::Button, colours.face);
    setTextColour(palette, QPalette::WindowText, colours.faceText, colours.face, system);
    setTextColour(palette, QPalette::ButtonText, colours.buttonText, colours.face, system);
    return palette;
}

QPalette listPalette(QPalette palette, const QPalette &system, const WindowColours &colours)
{
    const QColor yellow(Qt::yellow);
    for (QPalette::ColorRole role : {QPalette::Button, QPalette::Base, QPalette::Window})
        palette.setColor(role, colours.highlight);
    for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText})
        setTextColour(palette, role, yellow, colours.highlight, system);
    palette.setColor(QPalette::Highlight, colours.highlight.darker(150));
    palette.setColor(QPalette::HighlightedText, yellow);
    return palette;
}

void fitToolTipText(QWidget &tip, const WindowColours &colours)
{
    // The panel alone, as the style paints it, read down its middle: a theme's may be shaded.
    QImage panel(tip.size(), QImage::Format_ARGB32);
    panel.fill(colours.toolTip);
    {
        QPainter painter(&panel);
        QStyleOptionFrame option;
        option.initFrom(&tip);
        tip.style()->drawPrimitive(QStyle::PE_PanelTipLabel, &option, &painter, &tip);
    }
    QList<QColor> grounds;
    const int x = panel.width() / 2;
    for (int step = 1; step < 4; ++step)
        grounds.append(panel.pixelColor(x, panel.height() * step / 4));
    const QColor text = readableOnEvery(colours.toolTipText, grounds);
    QPalette palette = tip.palette();
    for (QPalette::ColorRole role : {QPalette::ToolTipText, QPalette::WindowText, QPalette::Text})
        palette.setColor(role, text);
    tip.setPalette(palette);
}

QPalette toolTipPalette(QPalette palette, const WindowColours &colours)
{
    // A tooltip label draws its text in WindowText and its panel in ToolTipBase or Window, as the style has it.
    for (QPalette::ColorRole role : {QPalette::ToolTipBase, QPalette::Window, QPalette::Button, QPalette::Base})
        palette.setColor(role, colours.toolTip);
    for (QPalette::ColorRole role : {QPalette::ToolTipText, QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, colours.toolTipText);
    return palette;
}
