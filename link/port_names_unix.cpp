#include "port_names.h"

#include "config_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The highest COM number a link or the table may name.
constexpr int kHighestNamedPort = 256;

// Devices named on the command line by their path, numbered above every COMn.
QMutex g_namedMutex;
QHash<int, QString> g_named;

QString tablePath(int portNumber)
{
    if (portNumber >= 1 && portNumber <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
    if (portNumber >= 5 && portNumber <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 5);
    if (portNumber >= 13 && portNumber <= 16)
        return QStringLiteral("/dev/ttyACM%1").arg(portNumber - 13);
    return {};
}

// Root follows only root's own links: a configuration folder of another user (HOME or XDG_CONFIG_HOME passed on
// by sudo -E) could lead it to any terminal. Such a link still claims its number, and names no device.
bool followsLinksIn(const QString &folder, const QString &linkName)
{
    if (::geteuid() != 0)
        return true;
    for (const QString &path : {folder, folder + QStringLiteral("/KAVOR"), folder + QStringLiteral("/KAVOR/ports"),
                                folder + linkName}) {
        struct stat entry {};
        if (::lstat(QFile::encodeName(path).constData(), &entry) == 0 && entry.st_uid != 0)
            return false;
    }
    return true;
}

} // namespace

QList<int> portNumbersWithLinks()
{
    QList<int> numbers;
    QStringList folders{xdgConfigHome()};
    folders += xdgConfigDirs();
    for (const QString &folder : folders) {
        const QDir ports(folder + QStringLiteral("/KAVOR/ports"));
        // Dangling links too: they claim their number just the same.
        const QStringList names = ports.entryList({QStringLiteral("COM*")}, QDir::AllEntries | QDir::System);
        for (const QString &name : names) {
            bool ok = false;
            const int n = name.mid(3).toInt(&ok);
            if (ok && n >= 1 && !numbers.contains(n) && name == QStringLiteral("COM%1").arg(n))
                numbers << n;
        }
    }
    return numbers;
}

int portNumberForDevice(const QString &devicePath)
{
    const QFileInfo device(devicePath);
    if (!device.exists())
        return 0;
    const QString path = device.canonicalFilePath();
    for (int n = 1; n <= kHighestNamedPort; ++n) {
        if (devicePathForPort(n) == path)
            return n;
    }
    QMutexLocker lock(&g_namedMutex);
    for (auto it = g_named.begin(); it != g_named.end(); ++it) {
        if (it.value() == path)
            return it.key();
    }
    const int n = kHighestNamedPort + 1 + int(g_named.size());
    g_named.insert(n, path);
    return n;
}

QString devicePathForPort(int portNumber)
{
    if (portNumber < 1)
        return {};
    if (portNumber > kHighestNamedPort) {
        QMutexLocker lock(&g_namedMutex);
        return g_named.value(portNumber);
    }
    const QString linkName = QStringLiteral("/KAVOR/ports/COM%1").arg(portNumber);
    QStringList folders{xdgConfigHome()};
    folders += xdgConfigDirs();
    for (const QString &folder : folders) {
        const QFileInfo link(folder + linkName);
        // A link that leads nowhere still claims its number, so the table is never tried for it.
        if ((link.isSymLink() || link.exists()) && !followsLinksIn(folder, linkName))
            return {};
        if (link.isSymLink())
            return link.canonicalFilePath();
        if (link.exists())
            return link.absoluteFilePath();
    }
    return tablePath(portNumber);
}
