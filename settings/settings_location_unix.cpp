#include "settings_location.h"

#include <QDir>

namespace {

const QString kRelativePath = QStringLiteral("KAVOR/ModuleBench.conf");

// The environment is read on every call: it may change while the process runs, and
// QSettings' own user path is fixed at its first use.
QString configHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return home;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList configDirs()
{
    QStringList dirs;
    const QStringList listed = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'));
    for (const QString &dir : listed) {
        // Relative entries are invalid for XDG and would depend on the working folder.
        if (!dir.isEmpty() && QDir::isAbsolutePath(dir))
            dirs.append(dir);
    }
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}

std::unique_ptr<QSettings> openFile(const QString &dir)
{
    return std::make_unique<QSettings>(dir + QLatin1Char('/') + kRelativePath, QSettings::IniFormat);
}

} // namespace

std::unique_ptr<QSettings> openSettingsForWriting()
{
    return openFile(configHome());
}

std::vector<std::unique_ptr<QSettings>> openSettingsForReading()
{
    std::vector<std::unique_ptr<QSettings>> sources;
    sources.push_back(openFile(configHome()));
    for (const QString &dir : configDirs())
        sources.push_back(openFile(dir));
    return sources;
}
