#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

#include <cstdint>

// The window's fonts: the platform's classic faces where present, else the nearest in width, with a CJK family
// for the Chinese captions.
QFont sansFont(int pixels, bool bold);
QFont microsoftSansFont(int pixels);
QFont serifFont(int pixels, bool bold);

// The font, narrower where its first family present is DejaVu, far wider than the faces the layout was drawn for.
// Asks the font database, whose first use reads the whole font configuration, as long as the rest of the
// window's start-up: the window asks once it is on screen, before its first paint, as Qt itself first needs the
// database then.
QFont narrowedWhereWide(QFont font);

// A colour given as 0x00BBGGRR.
QColor colourFromBgr(std::uint32_t bgr);

// The maker's purple behind the maker's line.
constexpr std::uint32_t kMakerPurple = 0x800080;

// The colours of the roles the window is drawn with, each text readable on its background: the system's
// colours where they give 4.5 : 1, else the same hue darker or lighter as far as needed (the classic desktop's
// highlight and caption are dark blues, and yellow or white on them reads well; a light modern highlight
// does not).
struct WindowColours {
    QColor face;       // window and buttons
    QColor faceText;   // label and button captions
    QColor buttonText;
    QColor red;        // the language buttons' captions and characters
    QColor highlight;  // behind the yellow information
    QColor caption;    // behind the white status
    QColor focus;      // the focus ring, on the face
    QColor toolTip;    // behind a tooltip's text: the system's
    QColor toolTipText;
};

WindowColours windowColours(const QPalette &palette);

// The colours a control's text is drawn in while the window is disabled: the system's greyed text for the role
// where it stands out from the background less than the enabled text does, else the grey half way between the
// text's lightness and the background's. Readability rules hold for enabled text; disabled text recedes.
QColor disabledText(const QPalette &system, QPalette::ColorRole role, const QColor &text, const QColor &background);

// Sets a text role: the colour in the active and inactive groups, its disabled look in the disabled group.
void setTextColour(QPalette &palette, QPalette::ColorRole role, const QColor &text, const QColor &background,
                   const QPalette &system);

// A panel's background and text, the same in every group: the status and the module's values stay readable while
// the window is busy.
void setPanelColours(QWidget &panel, const QColor &background, const QColor &text);

// The window's palette from the system's: the face behind every control, the captions on it.
QPalette facePalette(const QPalette &system, const WindowColours &colours);

// The closed list's palette: yellow on the highlight colour, in the list and in its open rows.
QPalette listPalette(QPalette palette, const QPalette &system, const WindowColours &colours);

// The tooltips' palette (QToolTip::setPalette): their text readable on their background, which stays the system's.
QPalette toolTipPalette(QPalette palette, const WindowColours &colours);

// A tooltip about to be shown: its text made readable on the panel its style paints. A style may paint that from
// the desktop's theme and take the text's colour from there too, whatever the palette says (Qt's Windows style
// does: under wine its tooltips are grey on white, some 2.4 : 1).
void fitToolTipText(QWidget &tip, const WindowColours &colours);
