#include "startup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>

#include <cstring>

namespace {

// The sizes a window system takes from a window: X11 sets up to 128 in the window's icon property (the 256 is too
// large for it), Windows asks for 16 and 32 at its scale. The desktop entry's icon is installed at 256 as well.
const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128};

} // namespace

QString applicationTitle()
{
    return QStringLiteral("KAVOR MARDEN-F Module Config");
}

QString desktopId()
{
    return QStringLiteral("com.kavor.ModuleBench");
}

QIcon applicationIcon()
{
    Q_INIT_RESOURCE(app_resources);
    // Read as PNG outright: left to guess, the reader asks every image plugin first.
    QIcon icon;
    for (const int size : kIconSizes) {
        QImageReader reader(QStringLiteral(":/icons/%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

StartRequest readCommandLine(int argc, const char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return StartRequest::Help;
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0)
            return StartRequest::Version;
    }
    return StartRequest::Window;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: modulebench [OPTION]\n"
        "Finds a KAVOR MARDEN-F reader module on the serial ports COM1 to COM16 and shows its serial number,\n"
        "firmware version and customer register; from the same window the module's baud rate is changed and\n"
        "its customer register cleared. The window speaks English, simplified Chinese and traditional Chinese.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Print this help and exit.\n"
        "  -v, --version  Print the version and exit.\n"
        "\n"
        "Without an option the window opens. Qt's own options (-platform, -display, ...) are taken as by\n"
        "every Qt program.\n"
        "\n"
        "The console program is modulebench-cli: the same scan, baud-rate change and clearing from a terminal\n"
        "or a script, with no window (modulebench-cli --help).\n");
}

QString versionText()
{
    return QStringLiteral("modulebench " MB_VERSION "\n");
}

void setUpApplication()
{
    // The application name, which is also the display name while none is set. A display name of its own
    // would be appended to every window title, and the title bar shows the window's caption alone.
    QCoreApplication::setApplicationName(applicationTitle());
    QCoreApplication::setApplicationVersion(QStringLiteral(MB_VERSION));
    // The desktop finds the entry and the icon of a running window by this id: Wayland's app id and the
    // desktop-file properties on X11 come from the desktop file name, and X11's WM_CLASS names the window's
    // instance after RESOURCE_NAME (its class is the application name).
    QGuiApplication::setDesktopFileName(desktopId());
    if (!qEnvironmentVariableIsSet("RESOURCE_NAME"))
        qputenv("RESOURCE_NAME", desktopId().toLatin1());
    QGuiApplication::setWindowIcon(applicationIcon());
}
