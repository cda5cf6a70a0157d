// Pictures of the real window in its three languages for the README: screenshots OUTPUT_FOLDER.
#include "clock.h"
#include "frame_layer.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_port.h"
#include "module_window.h"
#include "settings_store.h"
#include "startup.h"
#include "tone_player.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The language buttons store their choice; keep that away from the user's settings.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(configHome.filePath(QStringLiteral("dirs"))));

    QApplication app(argc, argv);
    setUpApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(args.at(1));
    QDir().mkpath(out.path());

    SystemClock clock;
    ModulePort port(clock);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    SettingsStore settings;
    const MessageTable messages;
    TonePlayer tones;
    TfrmModule window(settings, messages, port, frames, commands, clock, tones);
    window.show();
    QApplication::processEvents();

    const struct {
        const char *button;
        const char *file;
    } shots[] = {{"btnEng", "window-en.png"}, {"btnGB", "window-gb.png"}, {"btnBIG5", "window-big5.png"}};
    bool ok = true;
    for (const auto &shot : shots) {
        auto *button = window.findChild<QPushButton *>(QLatin1String(shot.button));
        if (!button)
            return 1;
        button->click();
        QApplication::processEvents();
        const QString path = out.filePath(QLatin1String(shot.file));
        if (!window.grab().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
