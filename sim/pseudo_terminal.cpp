#include "pseudo_terminal.h"

#include "sim_link.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct SpeedEntry {
    speed_t code;
    qint32 baud;
};

constexpr SpeedEntry kSpeeds[] = {
    {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
    {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    {B460800, 460800}, {B921600, 921600},
};

QString systemError(const char *what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PseudoTerminal::open(QString &error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = systemError("grantpt/unlockpt");
        return false;
    }
    const char *name = ptsname(m_master);
    if (!name) {
        error = systemError("ptsname");
        return false;
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        error = systemError("open slave");
        return false;
    }
    // A fresh pty echoes and edits lines; a serial port does neither until the tool sets it up.
    termios settings{};
    tcgetattr(m_slave, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(m_slave, TCSANOW, &settings);

    const int flags = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    return true;
}

qint32 PseudoTerminal::lineBaudRate() const
{
    // On the master, tcgetattr reports the slave's settings, as the tool left them.
    termios settings{};
    if (tcgetattr(m_master, &settings) != 0)
        return 0;
    const speed_t code = cfgetospeed(&settings);
    for (const SpeedEntry &entry : kSpeeds) {
        if (entry.code == code)
            return entry.baud;
    }
    return 0;
}

PortLink::~PortLink()
{
    remove();
}

QByteArray PortLink::portsDir()
{
    return QFile::encodeName(simLinksDir());
}

bool PortLink::create(int portNumber, const QByteArray &target, QString &error)
{
    const QByteArray dir = portsDir();
    if (!QDir().mkpath(QFile::decodeName(dir))) {
        error = QStringLiteral("cannot create ") + QFile::decodeName(dir);
        return false;
    }
    const QByteArray path = dir + "/COM" + QByteArray::number(portNumber);
    const QString pathName = QFile::decodeName(path);
    struct stat info {};
    QByteArray previous;
    if (lstat(path.constData(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = pathName + QStringLiteral(" exists and is not a link");
            return false;
        }
        char buffer[4096];
        const ssize_t length = readlink(path.constData(), buffer, sizeof buffer);
        if (length > 0)
            previous = QByteArray(buffer, int(length));
        // A link left by a sim that was killed: the link it replaced is the one to put back.
        const std::optional<SimLinkRecord> record = readSimLinkRecord(pathName);
        if (record && record->target == previous && !simLinkOwnerRunning(record->pid)) {
            std::fprintf(stderr, "modulebench-sim: replacing %s, left by modulebench-sim %lld that is gone\n",
                         path.constData(), static_cast<long long>(record->pid));
            previous = record->previousTarget;
        }
        ::unlink(path.constData());
    }
    if (symlink(target.constData(), path.constData()) != 0) {
        error = systemError("symlink");
        if (!previous.isEmpty() && symlink(previous.constData(), path.constData()) != 0)
            error += QStringLiteral("; the earlier link is lost");
        return false;
    }
    m_path = path;
    m_target = target;
    m_previousTarget = previous;
    // Written after the link: a record never names a link that is not there yet.
    if (!writeSimLinkRecord(pathName, SimLinkRecord{::getpid(), target, previous}))
        std::fprintf(stderr, "modulebench-sim: cannot write %s\n", qPrintable(simLinkRecordPath(pathName)));
    return true;
}

void PortLink::remove()
{
    if (m_path.isEmpty())
        return;
    const QString pathName = QFile::decodeName(m_path);
    char buffer[4096];
    const ssize_t length = readlink(m_path.constData(), buffer, sizeof buffer);
    // Someone else may have relinked the port meanwhile; leave their link alone.
    if (length > 0 && QByteArray(buffer, int(length)) == m_target) {
        ::unlink(m_path.constData());
        if (!m_previousTarget.isEmpty() && symlink(m_previousTarget.constData(), m_path.constData()) != 0)
            std::fprintf(stderr, "modulebench-sim: cannot put back %s\n", m_path.constData());
    }
    const std::optional<SimLinkRecord> record = readSimLinkRecord(pathName);
    if (record && record->pid == ::getpid())
        QFile::remove(simLinkRecordPath(pathName));
    m_path.clear();
}
