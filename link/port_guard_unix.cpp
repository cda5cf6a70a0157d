#include "port_guard.h"

#include "sim_link.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

struct PortGuard::Private {
    // While the port is open the device has two descriptors, this one and QSerialPort's. QSerialPort's
    // open writes its raw mode and line settings to the device at once, so whether the port is free must be
    // settled before it: the flock (which, unlike TIOCEXCL, binds root too), another program's exclusive
    // flag, another process with the device open. A port held by another program must not have its line
    // settings touched by our open. This descriptor then keeps the flock for as long as the port is used.
    int fd = -1;
    termios found{};
    bool haveFound = false;
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

// The pseudo-terminal number N of /dev/pts/N; -1 for any other device.
int ptyIndexOf(const QByteArray &devicePath)
{
    if (!devicePath.startsWith("/dev/pts/"))
        return -1;
    bool ok = false;
    const int index = devicePath.mid(9).toInt(&ok);
    return ok ? index : -1;
}

// The tty-index line that /proc/PID/fdinfo/FD shows for a pseudo-terminal master.
int masterIndexOf(int fdinfoDir, const char *fd)
{
    const int info = ::openat(fdinfoDir, fd, O_RDONLY | O_CLOEXEC);
    if (info < 0)
        return -1;
    char text[512];
    const ssize_t got = ::read(info, text, sizeof text - 1);
    ::close(info);
    if (got <= 0)
        return -1;
    text[got] = '\0';
    const char *line = std::strstr(text, "tty-index:");
    return line ? std::atoi(line + 10) : -1;
}

// One pass over /proc/*/fd for several devices at once: for each, another process with a descriptor on
// it (0: none). Only the processes this user may look into are seen (all of them for root). The process
// that holds the master of a pseudo-terminal (a virtual module, keeping its own slave descriptor so that
// its side stays up) is the far end of the line, not another user of the port.
std::vector<qint64> otherOpeners(const std::vector<QByteArray> &devicePaths)
{
    const size_t count = devicePaths.size();
    std::vector<qint64> found(count, 0);
    std::vector<int> ptyIndexes(count);
    bool anyPty = false;
    for (size_t i = 0; i < count; ++i) {
        ptyIndexes[i] = ptyIndexOf(devicePaths[i]);
        anyPty = anyPty || ptyIndexes[i] >= 0;
    }
    const pid_t self = ::getpid();
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return found;
    size_t left = count;
    std::vector<char> opens(count);
    std::vector<char> farEnd(count);
    while (left > 0) {
        const dirent *entry = ::readdir(proc);
        if (!entry)
            break;
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "%ld/fd", pid);
        const int fdDir = ::openat(::dirfd(proc), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0)
            continue;
        DIR *fds = ::fdopendir(fdDir);
        if (!fds) {
            ::close(fdDir);
            continue;
        }
        std::fill(opens.begin(), opens.end(), 0);
        std::fill(farEnd.begin(), farEnd.end(), 0);
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            char target[PATH_MAX];
            const ssize_t length = ::readlinkat(fdDir, fd->d_name, target, sizeof target);
            // A process this user may list but not look into (another user namespace): none of its will do.
            if (length < 0 && errno == EACCES)
                break;
            if (length <= 0 || length == ssize_t(sizeof target))
                continue;
            const QByteArray link = QByteArray::fromRawData(target, int(length));
            const bool master = anyPty && (link == "/dev/ptmx" || link == "/dev/pts/ptmx");
            int masterIndex = -2; // not read yet
            for (size_t i = 0; i < count; ++i) {
                if (link == devicePaths[i]) {
                    opens[i] = true;
                } else if (master && ptyIndexes[i] >= 0) {
                    if (masterIndex == -2) {
                        std::snprintf(path, sizeof path, "%ld/fdinfo", pid);
                        const int infoDir = ::openat(::dirfd(proc), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                        masterIndex = infoDir >= 0 ? masterIndexOf(infoDir, fd->d_name) : -1;
                        if (infoDir >= 0)
                            ::close(infoDir);
                    }
                    farEnd[i] = farEnd[i] || masterIndex == ptyIndexes[i];
                }
            }
        }
        ::closedir(fds);
        for (size_t i = 0; i < count; ++i) {
            if (found[i] == 0 && opens[i] && !farEnd[i]) {
                found[i] = pid;
                --left;
            }
        }
    }
    ::closedir(proc);
    return found;
}

// Another process with a descriptor on the device. Ports opened at the same moment (a search over every
// port at once) share one pass over /proc: a pass that begins after a port is asked about, with its flock
// held, answers for it as well as a pass of its own would. Sixteen passes at once would keep both
// processors of a small machine busy for most of each open, and the virtual modules from reading their
// lines on time.
qint64 otherOpener(const QByteArray &devicePath)
{
    struct Ask {
        QByteArray devicePath;
        qint64 holder = 0;
        bool answered = false;
    };
    static std::mutex mutex;
    static std::condition_variable passEnded;
    static bool passRunning = false;
    static std::vector<Ask *> waiting;

    Ask ask{devicePath};
    std::unique_lock<std::mutex> lock(mutex);
    waiting.push_back(&ask);
    while (!ask.answered) {
        if (passRunning) {
            passEnded.wait(lock);
            continue;
        }
        passRunning = true;
        std::vector<Ask *> asked;
        asked.swap(waiting);
        lock.unlock();
        std::vector<QByteArray> paths;
        for (const Ask *each : asked)
            paths.push_back(each->devicePath);
        const std::vector<qint64> holders = otherOpeners(paths);
        lock.lock();
        for (size_t i = 0; i < asked.size(); ++i) {
            asked[i]->holder = holders[i];
            asked[i]->answered = true;
        }
        passRunning = false;
        passEnded.notify_all();
    }
    return ask.holder;
}

void noteHolder(PortStatus &status, const struct stat &node, qint64 pid = 0)
{
    if (pid == 0)
        pid = flockHolder(node);
    if (pid == 0)
        pid = otherOpener(QFile::encodeName(status.devicePath));
    if (pid == 0)
        return;
    status.holderPid = pid;
    status.holderName = commandName(pid);
}

// Who may use the device, for a hint that fits it: the group dialout is Debian's for serial ports only.
void noteAccess(PortStatus &status, const struct stat &node)
{
    char buffer[4096];
    passwd user {};
    passwd *userFound = nullptr;
    status.deviceOwner = ::getpwuid_r(node.st_uid, &user, buffer, sizeof buffer, &userFound) == 0 && userFound
        ? QString::fromLocal8Bit(userFound->pw_name)
        : QString::number(node.st_uid);
    group grp {};
    group *groupFound = nullptr;
    status.deviceGroup = ::getgrgid_r(node.st_gid, &grp, buffer, sizeof buffer, &groupFound) == 0 && groupFound
        ? QString::fromLocal8Bit(groupFound->gr_name)
        : QString::number(node.st_gid);
    status.deviceMode = int(node.st_mode & 07777);
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
        else if (status.problem == PortProblem::PermissionDenied)
            noteAccess(status, node);
        return false;
    }
    // Read before anything is written; a device that answers no terminal request is no terminal.
    d->haveFound = ::tcgetattr(fd, &d->found) == 0;
    if (!d->haveFound) {
        const int error = errno;
        ::close(fd);
        return fail(status, error == EIO ? PortProblem::HungUpOrIoError : PortProblem::NotATerminal, error);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        fail(status, error == EWOULDBLOCK ? PortProblem::Busy : problemFromErrno(error), error);
        if (status.problem == PortProblem::Busy)
            noteHolder(status, node);
        return false;
    }
    // Only root gets past an exclusive flag that is already set, and the flag is not this tool's: a copy
    // holding the port also holds the flock above. So it is another program's (or one left on a pty by a
    // holder that died), and the port is busy for root too. Asked before anything is written to the line.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(fd);
        fail(status, PortProblem::Busy, EBUSY);
        noteHolder(status, node);
        return false;
    }
    // A program that merely has the device open (a terminal program that takes no lock and sets no flag).
    if (const qint64 holder = otherOpener(path)) {
        ::close(fd);
        fail(status, PortProblem::Busy, EBUSY);
        noteHolder(status, node, holder);
        return false;
    }
    d->fd = fd;
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

// QSerialPort's close writes back the state its open read before changing anything, which is the state
// found at acquire: a second write of it here would only repeat that.
void PortGuard::restore(qintptr) {}

bool PortGuard::carriesParity() const
{
    return !d->pseudoTerminal;
}

void PortGuard::release()
{
    if (d->fd < 0)
        return;
    // The flag was clear at acquire, so whatever set it since is this tool's open. A pty keeps it after
    // the last close unless it is cleared, and QSerialPort skips the clearing when its open fails halfway.
    ::ioctl(d->fd, TIOCNXCL);
    ::flock(d->fd, LOCK_UN);
    ::close(d->fd);
    d->fd = -1;
    d->haveFound = false;
}
