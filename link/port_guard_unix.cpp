#include "port_guard.h"

#include "sim_link.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

struct PortGuard::Private {
    // Our own descriptor on the device: it carries the flock, which, unlike TIOCEXCL, binds root too.
    int fd = -1;
    termios found{};
    bool haveFound = false;
    // The exclusive flag was seen clear at acquire: whatever sets it from then on is this tool's open.
    bool exclusiveOurs = false;
    bool pseudoTerminal = false;
};

namespace {

PortProblem problemFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ELOOP:
        return PortProblem::NoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return PortProblem::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return PortProblem::Busy;
    default:
        return PortProblem::HungUpOrIoError;
    }
}

enum class TerminalKind { Terminal, Other, Unknown };

// /proc/tty/drivers names every terminal driver with its major number and minor range, so a device
// number can be judged without opening the node (an open alone arms a watchdog or rewinds a tape).
TerminalKind terminalKindOf(dev_t device)
{
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly))
        return TerminalKind::Unknown;
    const unsigned int major = ::major(device);
    const unsigned int minor = ::minor(device);
    bool anyLine = false;
    for (const QByteArray &line : drivers.readAll().split('\n')) {
        // name  /dev/node  major  minor-or-range  type
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4)
            continue;
        anyLine = true;
        if (fields[2].toUInt() != major)
            continue;
        const QList<QByteArray> range = fields[3].split('-');
        bool okLow = false;
        bool okHigh = true;
        const unsigned int low = range[0].toUInt(&okLow);
        const unsigned int high = range.size() > 1 ? range[1].toUInt(&okHigh) : low;
        if (okLow && okHigh && minor >= low && minor <= high)
            return TerminalKind::Terminal;
    }
    return anyLine ? TerminalKind::Other : TerminalKind::Unknown;
}

QString commandName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

// The process holding a flock on the node, from /proc/locks ("1: FLOCK ADVISORY WRITE pid MM:mm:inode ...").
qint64 flockHolder(const struct stat &node)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wanted = QByteArray::number(::major(node.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(::minor(node.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(qulonglong(node.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == wanted)
            return fields[4].toLongLong();
    }
    return 0;
}

// Some other process with a descriptor on the device; only processes this user may look into are seen.
qint64 openHolder(const QString &devicePath)
{
    const qint64 self = ::getpid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + name + QStringLiteral("/fd");
        const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            if (QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd) == devicePath)
                return pid;
        }
    }
    return 0;
}

void noteHolder(PortStatus &status, const struct stat &node)
{
    qint64 pid = flockHolder(node);
    if (pid == 0)
        pid = openHolder(status.devicePath);
    if (pid == 0)
        return;
    status.holderPid = pid;
    status.holderName = commandName(pid);
}

bool fail(PortStatus &status, PortProblem problem, int error = 0)
{
    status.problem = problem;
    status.systemError = error;
    return false;
}

constexpr tcflag_t kLineCflags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
constexpr tcflag_t kLineIflags = INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY;

} // namespace

bool simLinkOwnerRunning(qint64 pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    // A recycled process id belongs to some other program.
    return commandName(pid) == QLatin1String("modulebench-sim");
}

PortGuard::PortGuard() : d(std::make_unique<Private>()) {}

PortGuard::~PortGuard()
{
    release();
}

bool PortGuard::acquire(int portNumber, PortStatus &status)
{
    release();
    status.problem = PortProblem::None;
    if (isStaleSimulatorLink(portNumber))
        return fail(status, PortProblem::StaleSimulatorLink);

    const QByteArray path = QFile::encodeName(status.devicePath);
    struct stat node {};
    if (::stat(path.constData(), &node) != 0)
        return fail(status, problemFromErrno(errno), errno);
    // Nothing but a terminal is opened: not a file, a FIFO, a socket or another kind of device.
    if (!S_ISCHR(node.st_mode) || terminalKindOf(node.st_rdev) == TerminalKind::Other)
        return fail(status, PortProblem::NotATerminal);

    // O_NONBLOCK: a modem line without carrier must not hold the open. O_NOCTTY: the port never
    // becomes the tool's controlling terminal.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        fail(status, problemFromErrno(error), error);
        if (status.problem == PortProblem::Busy)
            noteHolder(status, node);
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return fail(status, PortProblem::NotATerminal);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        fail(status, error == EWOULDBLOCK ? PortProblem::Busy : problemFromErrno(error), error);
        if (status.problem == PortProblem::Busy)
            noteHolder(status, node);
        return false;
    }
    // Only root gets past an exclusive flag that is already set: another program's, or one left on a
    // pty by a holder that died. Root goes on as it always could, but leaves that flag as it found it.
    int exclusive = 0;
    const bool exclusiveClear = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
    d->haveFound = ::tcgetattr(fd, &d->found) == 0;
    if (!d->haveFound && errno == EIO) {
        const int error = errno;
        ::close(fd);
        return fail(status, PortProblem::HungUpOrIoError, error);
    }
    d->fd = fd;
    d->exclusiveOurs = exclusiveClear;
    // Unix98 pty slaves: majors 136 to 143.
    d->pseudoTerminal = ::major(node.st_rdev) >= 136 && ::major(node.st_rdev) <= 143;
    return true;
}

void PortGuard::opened(qintptr handle, bool keepLineSettings)
{
    if (!keepLineSettings || !d->haveFound)
        return;
    const int fd = static_cast<int>(handle);
    termios now{};
    if (::tcgetattr(fd, &now) != 0)
        return;
    now.c_cflag = (now.c_cflag & ~kLineCflags) | (d->found.c_cflag & kLineCflags);
    now.c_iflag = (now.c_iflag & ~kLineIflags) | (d->found.c_iflag & kLineIflags);
    ::cfsetispeed(&now, ::cfgetispeed(&d->found));
    ::cfsetospeed(&now, ::cfgetospeed(&d->found));
    ::tcsetattr(fd, TCSANOW, &now);
}

void PortGuard::restore(qintptr)
{
    if (d->fd >= 0 && d->haveFound)
        ::tcsetattr(d->fd, TCSANOW, &d->found);
}

bool PortGuard::carriesParity() const
{
    return !d->pseudoTerminal;
}

void PortGuard::release()
{
    if (d->fd < 0)
        return;
    // A pty keeps the exclusive flag after the last close unless it is cleared; QSerialPort's close
    // clears it in any case. Either way the flag ends as acquire found it: cleared only when this tool set it.
    ::ioctl(d->fd, d->exclusiveOurs ? TIOCNXCL : TIOCEXCL);
    ::flock(d->fd, LOCK_UN);
    ::close(d->fd);
    d->fd = -1;
    d->haveFound = false;
    d->exclusiveOurs = false;
}
