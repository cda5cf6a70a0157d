#include "window_platform.h"

#include <QWidget>

#include <windows.h>

Qt::WindowFlags fixedWindowFlags()
{
    // The close box stays in the title bar; removeCloseCommand greys it by taking Close from the menu.
    // The fixed-size hint gives the single border without a sizing frame.
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
}

void removeCloseCommand(QWidget &window)
{
    const HWND handle = reinterpret_cast<HWND>(window.winId());
    const HMENU menu = GetSystemMenu(handle, FALSE);
    if (!menu)
        return;
    // Close is the last item of Windows's standard system menu, but not everywhere: wine appends its
    // "About Wine" after it, and other programs may append their own. Taken by its command, Close goes
    // wherever it stands, and nothing else does.
    RemoveMenu(menu, SC_CLOSE, MF_BYCOMMAND);
    DrawMenuBar(handle);
}

namespace {

QColor fromSysColor(int index)
{
    const DWORD value = GetSysColor(index);
    return QColor(GetRValue(value), GetGValue(value), GetBValue(value));
}

} // namespace

SystemColours systemColours(const QPalette &)
{
    return {fromSysColor(COLOR_HIGHLIGHT), fromSysColor(COLOR_BTNFACE), fromSysColor(COLOR_ACTIVECAPTION),
            fromSysColor(COLOR_INFOBK), fromSysColor(COLOR_INFOTEXT)};
}
