#pragma once

#include <QColor>
#include <QIcon>

class QStyle;

// The buttons' pictures, drawn as lines and curves at whatever size and pixel density they are shown, so they
// stay sharp at every scale.
enum class ButtonPicture { Magnifier, Telephone, Eraser, SimplifiedCharacters, TraditionalCharacters };

// The size the picture was drawn for: 16 by 16, the two characters 34 by 16.
QSize designSize(ButtonPicture picture);

// ink: the colour of the two characters; the other pictures have colours of their own.
QIcon buttonPicture(ButtonPicture picture, const QColor &ink = QColor(Qt::red));

// The toolkit's own standard close picture, the one its styles show where the desktop's icon theme has none.
// Taken from the toolkit directly, without searching the icon theme: that search reads the theme's whole index
// and loads every image plugin, a good part of the window's start-up. The style's icon where the toolkit has no
// such picture.
QIcon standardClosePicture(const QStyle &style);
