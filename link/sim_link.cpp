#include "sim_link.h"

#include "config_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// The same folder the port names are looked up in, so a relative XDG_CONFIG_HOME is ignored here too.
QString simLinksDir()
{
    return xdgConfigHome() + QStringLiteral("/KAVOR/ports");
}

QString simLinkRecordPath(const QString &linkPath)
{
    return linkPath + QStringLiteral(".owner");
}

bool writeSimLinkRecord(const QString &linkPath, const SimLinkRecord &record)
{
    QSaveFile file(simLinkRecordPath(linkPath));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("pid " + QByteArray::number(record.pid) + '\n');
    file.write("target " + record.target + '\n');
    file.write("previous " + record.previousTarget + '\n');
    return file.commit();
}

std::optional<SimLinkRecord> readSimLinkRecord(const QString &linkPath)
{
    QFile file(simLinkRecordPath(linkPath));
    // A record is three short lines; anything else is not ours.
    if (!QFileInfo(file.fileName()).isFile() || file.size() > 8192 || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    SimLinkRecord record;
    bool havePid = false;
    bool haveTarget = false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("pid "))
            record.pid = line.mid(4).toLongLong(&havePid);
        else if (line.startsWith("target ")) {
            record.target = line.mid(7);
            haveTarget = !record.target.isEmpty();
        } else if (line.startsWith("previous "))
            record.previousTarget = line.mid(9);
    }
    if (!havePid || record.pid <= 0 || !haveTarget)
        return std::nullopt;
    return record;
}

bool isStaleSimulatorLink(int portNumber)
{
    const QString link = simLinksDir() + QStringLiteral("/COM") + QString::number(portNumber);
    const QFileInfo info(link);
    if (!info.isSymLink())
        return false;
    const std::optional<SimLinkRecord> record = readSimLinkRecord(link);
    if (!record || info.symLinkTarget() != QFile::decodeName(record->target))
        return false;
    return !simLinkOwnerRunning(record->pid);
}
