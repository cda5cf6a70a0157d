#include "window_platform.h"

#include <QToolTip>
#include <QWidget>

Qt::WindowFlags fixedWindowFlags()
{
    // X11 and Wayland window managers have no system menu to edit, so the close box is never asked for.
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint;
}

void removeCloseCommand(QWidget &)
{
}

SystemColours systemColours(const QPalette &palette)
{
    // Desktop palettes carry no title-bar colour; the classic active caption is navy. Tooltips have a palette of
    // their own, which the desktop's theme sets.
    const QPalette tip = QToolTip::palette();
    return {palette.color(QPalette::Active, QPalette::Highlight),
            palette.color(QPalette::Active, QPalette::Button), QColor(0, 0, 128),
            tip.color(QPalette::Active, QPalette::ToolTipBase), tip.color(QPalette::Active, QPalette::ToolTipText)};
}
