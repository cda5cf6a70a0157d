#pragma once

#include <QString>

class QWidget;

// What a screen reader says for each control, in the three languages of the window (0 English, 1 simplified
// Chinese, 2 traditional Chinese). A control whose caption names it takes no name of its own here; the panels
// are named by what they show, so a reader speaks the status and the module's values as they change.
struct AccessibleText {
    const char *control; // the control's object name
    QString name[3];
    QString description[3];
};

// The table, one row per control and the window itself ("frmModule").
const AccessibleText *accessibleTexts(int *count);

// Sets the name (where the table has one) and the description of every control of the window in the language.
void applyAccessibleTexts(QWidget &window, int language);
