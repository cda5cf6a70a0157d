#include "record_file.h"

#include <QFile>
#include <QScopeGuard>

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

namespace {

// The kernel's protected-symlinks rule, applied whether the system has it on or not: in a sticky folder
// (/tmp, /var/tmp) a final link is followed only when it belongs to the running user, to root or to the
// folder's owner. Anyone may plant a link there; only those can, so no one else can swap it meanwhile.
bool mayFollowLink(int folder, const QByteArray &name, QString &error)
{
    struct stat folderInfo {};
    struct stat link {};
    if (::fstat(folder, &folderInfo) != 0 || ::fstatat(folder, name.constData(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        error = systemError(errno);
        return false;
    }
    if (!S_ISLNK(link.st_mode))
        return true;
    if (!(folderInfo.st_mode & S_ISVTX) || link.st_uid == ::geteuid() || link.st_uid == 0
        || link.st_uid == folderInfo.st_uid)
        return true;
    error = QStringLiteral("is a link of another user (uid %1) in a folder shared through the sticky bit; "
                           "it is not followed: name a file of your own")
                .arg(link.st_uid);
    return false;
}

} // namespace

bool RecordFile::open(const QString &name, const QByteArray &nameBytes, QString &error)
{
    const QByteArray path = nameBytes.isEmpty() ? QFile::encodeName(name) : nameBytes;
    // The file is opened relative to its folder, which is held open, so every look below is at the same folder.
    const int slash = path.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    const QByteArray base = path.mid(slash + 1);
    const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        error = systemError(errno);
        return false;
    }
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    if (base.isEmpty() || base == "." || base == "..") {
        error = QStringLiteral("is a folder, not a regular file");
        return false;
    }
    struct stat info {};
    if (::fstatat(folder, base.constData(), &info, 0) == 0 && !S_ISREG(info.st_mode)) {
        error = QStringLiteral("is %1, not a regular file").arg(kindOf(info.st_mode));
        return false;
    }
    // Without waiting: should a FIFO take the name's place meanwhile, the open does not block on it.
    constexpr int kFlags = O_RDWR | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // A new file is made only where there is no name at all (O_EXCL follows no link), so its entry in the
    // folder can be made durable with it.
    bool created = true;
    int fd = ::openat(folder, base.constData(), kFlags | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::openat(folder, base.constData(), kFlags | O_NOFOLLOW);
        if (fd < 0 && errno == ELOOP) {
            if (!mayFollowLink(folder, base, error))
                return false;
            fd = ::openat(folder, base.constData(), kFlags | O_CREAT, 0666);
        }
    }
    if (fd < 0) {
        error = systemError(errno);
        return false;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = QStringLiteral("is %1, not a regular file").arg(kindOf(info.st_mode));
        ::close(fd);
        return false;
    }
    if (created && ::fsync(folder) != 0 && errno != EINVAL) {
        error = QStringLiteral("the new file could not be made durable in its folder: %1").arg(systemError(errno));
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
    // A write that goes out in part is continued, so that the next one gives the system's reason (the file
    // size limit, a full disk, an I/O error) instead of a guess.
    qsizetype done = 0;
    int reason = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(d->fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            reason = written < 0 ? errno : EIO;
            break;
        }
        done += written;
    }
    // The record counts as written only once it is on the disk.
    if (reason == 0 && ::fsync(d->fd) != 0 && errno != EINVAL)
        reason = errno;
    if (reason == 0)
        return true;
    // The file goes back to its length before this record.
    error = systemError(reason);
    if (done > 0 && ::ftruncate(d->fd, info.st_size) != 0)
        error += QStringLiteral("; the part written could not be cut off: %1").arg(systemError(errno));
    return false;
}

namespace {

// The station's own file: its folder and the folders above it up to the data folder, made where missing.
// Nothing is made in, or written through, a folder or file of another user.
bool prepareStationFolder(const QByteArray &dataFolder, const QByteArray &folder, QString &error)
{
    const uid_t self = ::geteuid();
    const auto foreign = [&error](const QByteArray &path, uid_t owner) {
        error = QStringLiteral("%1 belongs to another user (uid %2): the station's records are never written there")
                    .arg(QFile::decodeName(path))
                    .arg(owner);
        return false;
    };
    // The nearest folder that is there, when the data folder is still to be made: it must be ours or root's.
    QByteArray existing = dataFolder;
    struct stat info {};
    while (::stat(existing.constData(), &info) != 0 && existing.contains('/') && existing != "/")
        existing = existing.lastIndexOf('/') > 0 ? existing.left(existing.lastIndexOf('/')) : QByteArray("/");
    if (existing != dataFolder && info.st_uid != self && info.st_uid != 0)
        return foreign(existing, info.st_uid);
    // From the data folder down: each one ours (a link of ours leads to a folder of ours), or made now.
    QList<QByteArray> steps{dataFolder};
    for (const QByteArray &part : folder.mid(dataFolder.size()).split('/')) {
        if (!part.isEmpty())
            steps << steps.last() + '/' + part;
    }
    for (const QByteArray &step : steps) {
        struct stat entry {};
        if (::lstat(step.constData(), &entry) != 0) {
            if (errno != ENOENT || (::mkdir(step.constData(), 0700) != 0 && errno != EEXIST)) {
                error = QStringLiteral("%1: %2").arg(QFile::decodeName(step), systemError(errno));
                return false;
            }
            if (::lstat(step.constData(), &entry) != 0) {
                error = QStringLiteral("%1: %2").arg(QFile::decodeName(step), systemError(errno));
                return false;
            }
        }
        if (entry.st_uid != self)
            return foreign(step, entry.st_uid);
        struct stat target {};
        if (S_ISLNK(entry.st_mode) && ::stat(step.constData(), &target) == 0 && target.st_uid != self)
            return foreign(step, target.st_uid);
    }
    return true;
}

} // namespace

bool prepareDatabaseFile(const QString &path, bool write, bool stationOwn, QString &error, bool *made)
{
    const QByteArray name = QFile::encodeName(path);
    const int slash = name.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : name.left(slash);
    const QByteArray base = name.mid(slash + 1);
    if (stationOwn && write) {
        // The data folder is the file's folder less KAVOR/ModuleBench.
        const QByteArray dataFolder = folderPath.left(folderPath.lastIndexOf('/', folderPath.lastIndexOf('/') - 1));
        if (!prepareStationFolder(dataFolder.isEmpty() ? QByteArray("/") : dataFolder, folderPath, error))
            return false;
    }
    const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return true; // nothing to look at: SQLite says why it cannot open the file
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    // SQLite makes its journal and its write-ahead files beside the file, by name: a link already planted under
    // one of their names is refused as the file's own would be. (One planted later, between two transactions,
    // is not seen here.)
    for (const char *companion : {"-journal", "-wal", "-shm"}) {
        struct stat entry {};
        const QByteArray companionName = base + companion;
        if (::fstatat(folder, companionName.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode)
            && !mayFollowLink(folder, companionName, error)) {
            error = QFile::decodeName(companionName) + QLatin1Char(' ') + error;
            return false;
        }
    }
    // Twice at most: a file made by another process between the look and the making is looked at once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat entry {};
        if (::fstatat(folder, base.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(entry.st_mode) && !mayFollowLink(folder, base, error))
                return false;
            if (!stationOwn || !write)
                return true;
            struct stat target {};
            const uid_t owner = S_ISLNK(entry.st_mode) && ::fstatat(folder, base.constData(), &target, 0) == 0
                                    ? target.st_uid
                                    : entry.st_uid;
            if (entry.st_uid == ::geteuid() && owner == ::geteuid())
                return true;
            error = QStringLiteral("%1 belongs to another user (uid %2): the station's records are never written "
                                   "there")
                        .arg(path)
                        .arg(entry.st_uid != ::geteuid() ? entry.st_uid : owner);
            return false;
        }
        if (errno != ENOENT || !write)
            return true;
        // Made here, through no link (O_EXCL), and readable by its owner alone when it is the station's own.
        const int fd = ::openat(folder, base.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                stationOwn ? 0600 : 0644);
        if (fd >= 0) {
            if (stationOwn)
                ::fchmod(fd, 0600);
            ::close(fd);
            if (made)
                *made = true;
            return true;
        }
        if (errno != EEXIST) {
            error = systemError(errno);
            return false;
        }
    }
    error = QStringLiteral("another process keeps changing the file");
    return false;
}
