#include "config_folders.h"

#include <QDir>

QString xdgConfigHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return home;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList xdgConfigDirs()
{
    QStringList dirs;
    const QStringList listed = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'));
    for (const QString &dir : listed) {
        if (!dir.isEmpty() && QDir::isAbsolutePath(dir))
            dirs.append(dir);
    }
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}
