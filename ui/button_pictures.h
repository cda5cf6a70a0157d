#pragma once

#include <QColor>
#include <QIcon>

// The buttons' pictures, drawn as lines and curves at whatever size and pixel density they are shown, so they
// stay sharp at every scale.
enum class ButtonPicture { Magnifier, Telephone, Eraser, SimplifiedCharacters, TraditionalCharacters };

// The size the picture was drawn for: 16 by 16, the two characters 34 by 16.
QSize designSize(ButtonPicture picture);

// ink: the colour of the two characters; the other pictures have colours of their own.
QIcon buttonPicture(ButtonPicture picture, const QColor &ink = QColor(Qt::red));
