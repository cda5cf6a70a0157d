#pragma once

#include <QColor>
#include <QPalette>
#include <Qt>

class QWidget;

struct SystemColours {
    QColor highlight;
    QColor buttonFace;
    QColor activeCaption;
    QColor toolTip;     // a tooltip's background
    QColor toolTipText;
};

// Title bar: system menu and minimise only; no maximise, and no close box where the system lets us ask.
Qt::WindowFlags fixedWindowFlags();

// Takes the Close command out of the window's system menu where the window system has one.
void removeCloseCommand(QWidget &window);

// The system's highlight, button-face, active-caption and tooltip colours.
SystemColours systemColours(const QPalette &palette);
