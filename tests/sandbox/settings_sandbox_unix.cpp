#include "settings_sandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

struct SettingsSandbox::Private {
    QTemporaryDir configHome;
    QTemporaryDir configDirs;
};

SettingsSandbox::SettingsSandbox() : d(std::make_unique<Private>())
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(d->configHome.path()));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(d->configDirs.path()));
}

SettingsSandbox::~SettingsSandbox() = default;

bool SettingsSandbox::isValid() const
{
    return d->configHome.isValid() && d->configDirs.isValid();
}

QStringList SettingsSandbox::written() const
{
    QStringList files;
    QDirIterator it(d->configHome.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

void SettingsSandbox::keepWhatWasWritten()
{
    d->configHome.setAutoRemove(false);
}
