// Pictures of the real window for the README: screenshots OUTPUT_FOLDER. The three languages, English under a
// dark palette, and English at 200 % (a second run of this program with QT_SCALE_FACTOR=2).
#include "module_session.h"
#include "module_window.h"
#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProcess>
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

    const bool scaled = argc == 3 && QByteArray(argv[2]) == "--scaled";
    if (scaled)
        qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    setUpApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 && !scaled && !(argc == 3 && QByteArray(argv[2]) == "--dark")) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(args.at(1));
    QDir().mkpath(out.path());
    const bool dark = argc == 3 && QByteArray(argv[2]) == "--dark";
    if (dark) {
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(53, 53, 53));
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Base, QColor(35, 35, 35));
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::Button, QColor(53, 53, 53));
        palette.setColor(QPalette::ButtonText, Qt::white);
        palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
        palette.setColor(QPalette::HighlightedText, Qt::black);
        palette.setColor(QPalette::Light, QColor(90, 90, 90));
        palette.setColor(QPalette::Mid, QColor(40, 40, 40));
        palette.setColor(QPalette::Dark, QColor(25, 25, 25));
        QApplication::setPalette(palette);
    }

    ModuleSession session;
    TfrmModule window(session);
    window.show();
    QApplication::processEvents();

    struct Shot {
        const char *button;
        const char *file;
    };
    QList<Shot> shots{{"btnEng", "window-en.png"}, {"btnGB", "window-gb.png"}, {"btnBIG5", "window-big5.png"}};
    if (scaled)
        shots = {{"btnEng", "window-en-200.png"}};
    if (dark)
        shots = {{"btnEng", "window-en-dark.png"}};
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
    // The other looks, each in a run of its own: the scale and the palette are the application's.
    if (argc == 2) {
        for (const char *look : {"--dark", "--scaled"}) {
            if (QProcess::execute(QCoreApplication::applicationFilePath(), {args.at(1), QLatin1String(look)}) != 0)
                ok = false;
        }
    }
    return ok ? 0 : 1;
}
