#include "port_guard.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct PortGuard::Private {
    // Our own descriptor on the device: it carries the flock, which, unlike TIOCEXCL, binds root too.
    int fd = -1;
    termios found{};
    bool haveFound = false;
};

namespace {

PortError errorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return PortError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return PortError::Permission;
    case EBUSY:
    case EWOULDBLOCK:
        return PortError::Busy;
    default:
        return PortError::Other;
    }
}

constexpr tcflag_t kLineCflags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
constexpr tcflag_t kLineIflags = INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY;

} // namespace

PortGuard::PortGuard() : d(std::make_unique<Private>()) {}

PortGuard::~PortGuard()
{
    release();
}

PortError PortGuard::acquire(const QString &devicePath)
{
    release();
    // O_NONBLOCK: a modem line without carrier must not hold the open.
    const int fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errorFromErrno(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? PortError::Busy : errorFromErrno(error);
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return PortError::NotFound;
    }
    d->fd = fd;
    d->haveFound = ::tcgetattr(fd, &d->found) == 0;
    return PortError::None;
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

void PortGuard::release()
{
    if (d->fd < 0)
        return;
    // A pty keeps TIOCEXCL after the last close unless it is cleared.
    ::ioctl(d->fd, TIOCNXCL);
    ::flock(d->fd, LOCK_UN);
    ::close(d->fd);
    d->fd = -1;
    d->haveFound = false;
}
