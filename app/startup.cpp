#include "startup.h"

#include <QCoreApplication>

QString applicationTitle()
{
    return QStringLiteral("KAVOR MARDEN-F Module Config");
}

void setUpApplication()
{
    // The application name, which is also the display name while none is set. A display name of its own
    // would be appended to every window title, and the title bar shows the window's caption alone.
    QCoreApplication::setApplicationName(applicationTitle());
}
