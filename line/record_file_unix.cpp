#include "record_file.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct RecordFile::Private {
    int fd = -1;
    bool standardOutput = false;
};

namespace {

// The system's words, in the program's style (lower case).
QString systemError(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("no regular file");
}

} // namespace

RecordFile::RecordFile() : d(new Private) {}

RecordFile::~RecordFile()
{
    if (d->fd >= 0)
        ::close(d->fd);
}

bool RecordFile::open(const QString &name, const QByteArray &nameBytes, QString &error)
{
    const QByteArray path = nameBytes.isEmpty() ? QFile::encodeName(name) : nameBytes;
    struct stat info {};
    if (::stat(path.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = QStringLiteral("is %1, not a regular file").arg(kindOf(info.st_mode));
        return false;
    }
    // Without waiting: should a FIFO take the name's place meanwhile, the open does not block on it.
    const int fd = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = systemError(errno);
        return false;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = QStringLiteral("is %1, not a regular file").arg(kindOf(info.st_mode));
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    d->fd = fd;
    return true;
}

void RecordFile::openStandardOutput()
{
    d->standardOutput = true;
}

bool RecordFile::isOpen() const
{
    return d->fd >= 0 || d->standardOutput;
}

bool RecordFile::isStandardOutput() const
{
    return d->standardOutput;
}

QByteArray RecordFile::firstLine() const
{
    if (d->fd < 0)
        return {};
    QByteArray head(4096, '\0');
    const ssize_t got = ::pread(d->fd, head.data(), size_t(head.size()), 0);
    head.resize(got > 0 ? int(got) : 0);
    const int end = head.indexOf('\n');
    if (end >= 0)
        head.truncate(end);
    if (head.endsWith('\r'))
        head.chop(1);
    return head;
}

bool RecordFile::endsWithLineEnd() const
{
    if (d->fd < 0)
        return true;
    struct stat info {};
    if (::fstat(d->fd, &info) != 0 || info.st_size == 0)
        return true;
    char last = 0;
    return ::pread(d->fd, &last, 1, info.st_size - 1) == 1 && last == '\n';
}

bool RecordFile::appendWhole(const QByteArray &bytes, QString &error)
{
    if (d->standardOutput) {
        const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
                        && std::fflush(stdout) == 0;
        if (!ok)
            error = systemError(errno);
        return ok;
    }
    struct stat info {};
    if (::fstat(d->fd, &info) != 0) {
        error = systemError(errno);
        return false;
    }
    ssize_t written;
    do {
        written = ::write(d->fd, bytes.constData(), size_t(bytes.size()));
    } while (written < 0 && errno == EINTR);
    if (written == bytes.size())
        return true;
    // Full disk, size limit...: the file goes back to its length before this record.
    const int reason = written < 0 ? errno : ENOSPC;
    error = systemError(reason);
    if (written > 0 && ::ftruncate(d->fd, info.st_size) != 0)
        error += QStringLiteral("; the part written could not be cut off: %1").arg(systemError(errno));
    return false;
}
