#include "settings_location.h"

#include "config_folders.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Only regular files are opened, never through a link left dangling, and nothing is ever opened in a way
// that can wait: a FIFO, a device or a folder at the store's path is never opened at all.

namespace {

const QString kRelativePath = QStringLiteral("/KAVOR/ModuleBench.conf");
constexpr int kSaveLockWaitMs = 3000;

enum class FileState { Missing, Read, TooLarge, NotRegular, Unreadable };

struct FileRead {
    FileState state = FileState::Missing;
    QByteArray bytes;
    mode_t mode = 0;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// A save renames a new file over the store; a reader that looks between the two finds another file at its
// open and looks again. A path that changes more often than this is no store being saved.
constexpr int kReadAttempts = 20;

enum class Attempt { Done, Replaced };

// Follows links; reads at most the size limit and one byte more.
Attempt readFileOnce(const QByteArray &path, FileRead &result)
{
    result = FileRead();
    struct stat before {};
    if (::stat(path.constData(), &before) != 0) {
        // A dangling link reads as no file; a loop of links is no regular file.
        result.state = errno == ENOENT || errno == ENOTDIR ? FileState::Missing
                       : errno == ELOOP                    ? FileState::NotRegular
                                                           : FileState::Unreadable;
        return Attempt::Done;
    }
    if (!S_ISREG(before.st_mode)) {
        result.state = FileState::NotRegular;
        return Attempt::Done;
    }
    if (before.st_size > kMaxSettingsFileSize) {
        result.state = FileState::TooLarge;
        return Attempt::Done;
    }
    // Should the path have changed into a FIFO or a device meanwhile, O_NONBLOCK keeps the open from
    // waiting and the check below refuses it.
    const Descriptor fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!fd.isValid() || ::fstat(fd.get(), &opened) != 0) {
        result.state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
        return Attempt::Done;
    }
    if (!S_ISREG(opened.st_mode)) {
        result.state = FileState::NotRegular;
        return Attempt::Done;
    }
    if (opened.st_dev != before.st_dev || opened.st_ino != before.st_ino)
        return Attempt::Replaced;
    result.mode = opened.st_mode;
    result.bytes.resize(kMaxSettingsFileSize + 1);
    qsizetype total = 0;
    while (total < result.bytes.size()) {
        const ssize_t got = ::read(fd.get(), result.bytes.data() + total, size_t(result.bytes.size() - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result.state = FileState::Unreadable;
            result.bytes.clear();
            return Attempt::Done;
        }
        if (got == 0)
            break;
        total += got;
    }
    // A file that grew past the limit while it was read (or a system file that reports no size).
    if (total > kMaxSettingsFileSize) {
        result.state = FileState::TooLarge;
        result.bytes.clear();
        return Attempt::Done;
    }
    result.bytes.truncate(total);
    result.state = FileState::Read;
    return Attempt::Done;
}

FileRead readFile(const QByteArray &path)
{
    FileRead result;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (readFileOnce(path, result) == Attempt::Done)
            return result;
    }
    result.state = FileState::Unreadable;
    return result;
}

// Where a save may write: the store's own path when it is a regular file or missing, the target of a link
// when that is a regular file. Nothing for a link that leads nowhere (the save would create its target),
// a loop, or anything that is not a regular file.
std::optional<QByteArray> writableTarget(const QByteArray &path)
{
    struct stat entry {};
    if (::lstat(path.constData(), &entry) != 0)
        return errno == ENOENT ? std::optional<QByteArray>(path) : std::nullopt;
    if (S_ISREG(entry.st_mode))
        return path;
    if (!S_ISLNK(entry.st_mode))
        return std::nullopt;
    char resolved[PATH_MAX];
    if (!::realpath(path.constData(), resolved))
        return std::nullopt;
    struct stat target {};
    if (::stat(resolved, &target) != 0 || !S_ISREG(target.st_mode))
        return std::nullopt;
    return QByteArray(resolved);
}

// The damaged file keeps its bytes beside the store, under the first free name of
// ModuleBench.conf.damaged, ModuleBench.conf.damaged.2, ...; an earlier one is never replaced.
bool keepAside(const QByteArray &path)
{
    for (int n = 1; n <= 100; ++n) {
        const QByteArray aside = path + ".damaged" + (n > 1 ? "." + QByteArray::number(n) : QByteArray());
        if (::renameat2(AT_FDCWD, path.constData(), AT_FDCWD, aside.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system without the no-replace rename: a second name, then the first one goes.
        if (::link(path.constData(), aside.constData()) == 0)
            return ::unlink(path.constData()) == 0;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

bool syncFolderOf(const QByteArray &file)
{
    const int slash = file.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? file.left(slash) : QByteArray("/");
    const Descriptor fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.isValid() && (::fsync(fd.get()) == 0 || errno == EINVAL);
}

// The whole new text goes into a fresh file beside the target, which then takes the target's name: a reader
// sees the old file or the new one, never half of one. Where the folder takes no new file but the target may
// be written, it is rewritten in place.
// keepMode: the permissions of the file replaced, -1 for a new file.
bool replaceFile(const QByteArray &target, const QByteArray &bytes, int keepMode)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QByteArray temporary =
            target + ".new-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        const Descriptor fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd.isValid() && errno == EEXIST)
            continue;
        if (!fd.isValid()) {
            if (errno != EACCES && errno != EPERM)
                return false;
            break;
        }
        if (keepMode >= 0)
            ::fchmod(fd.get(), mode_t(keepMode) & 07777);
        // The new file is on the disk before it takes the store's name, and the name before the save counts:
        // a power cut leaves the old store or the new one, never an empty file.
        if (writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0
            && ::rename(temporary.constData(), target.constData()) == 0)
            return syncFolderOf(target);
        ::unlink(temporary.constData());
        return false;
    }
    if (keepMode < 0)
        return false;
    const Descriptor fd(::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    return fd.isValid() && ::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode) && ::ftruncate(fd.get(), 0) == 0
        && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
}

// A new file that a save cut short (a crash, a kill) left beside the target, "ModuleBench.conf.new-PID-N",
// goes once its process has gone. Called under the folder lock, so no save of this tool is half done.
void removeLeftovers(const QByteArray &target)
{
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? target.left(slash) : QByteArray("/");
    const QByteArray prefix = target.mid(slash + 1) + ".new-";
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix))
            continue;
        const QList<QByteArray> parts = name.mid(prefix.size()).split('-');
        bool pidOk = false;
        bool attemptOk = false;
        const qlonglong pid = parts.size() == 2 ? parts[0].toLongLong(&pidOk) : 0;
        if (parts.size() == 2)
            parts[1].toInt(&attemptOk);
        if (!pidOk || !attemptOk || pid <= 0 || pid > INT_MAX)
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat leftover {};
        if (::fstatat(::dirfd(dir), name.constData(), &leftover, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(leftover.st_mode))
            ::unlinkat(::dirfd(dir), name.constData(), 0);
    }
    ::closedir(dir);
}

// Copies of the tool that save at the same moment take turns; the lock goes with the process,
// so a copy that dies leaves nothing behind. A save holds it for a few milliseconds; one held for
// longer than the wait belongs to a copy that is stopped or hung, and the save gives up (and says so)
// rather than write past it.
class FolderLock {
public:
    explicit FolderLock(const QByteArray &folder)
        : m_fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC))
    {
        QElapsedTimer waited;
        waited.start();
        while (m_fd.isValid()) {
            if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            if (waited.elapsed() >= kSaveLockWaitMs) {
                m_timedOut = true;
                return;
            }
            QThread::msleep(10);
        }
    }
    bool isLocked() const { return m_locked; }
    bool timedOut() const { return m_timedOut; }

private:
    Descriptor m_fd;
    bool m_locked = false;
    bool m_timedOut = false;
};

// Nothing is written into a folder or a file of another user, root's own runs included: root started with
// another user's HOME or XDG_CONFIG_HOME would otherwise rewrite whatever that user links the store to.
// Such a store is read; saving it is refused.
struct Foreign {
    QByteArray path;
    uid_t owner = 0;
};

// The entry itself and, for a link, what it leads to. Nothing to say about a path that does not exist.
std::optional<Foreign> foreignEntry(const QByteArray &path)
{
    const uid_t self = ::geteuid();
    struct stat entry {};
    if (::lstat(path.constData(), &entry) != 0)
        return std::nullopt;
    if (entry.st_uid != self)
        return Foreign{path, entry.st_uid};
    struct stat target {};
    char resolved[PATH_MAX];
    if (S_ISLNK(entry.st_mode) && ::stat(path.constData(), &target) == 0 && target.st_uid != self)
        return Foreign{::realpath(path.constData(), resolved) ? QByteArray(resolved) : path, target.st_uid};
    return std::nullopt;
}

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray("/");
}

// The configuration folder and the store's folder; where they are still to be made, the folder they would
// be made in (another user's home is not ours to add to; a folder of root, such as /tmp, is).
std::optional<Foreign> foreignFolder(const QByteArray &configHome, const QByteArray &folder)
{
    for (const QByteArray &path : {configHome, folder}) {
        if (auto foreign = foreignEntry(path))
            return foreign;
    }
    QByteArray existing = configHome;
    struct stat info {};
    while (::stat(existing.constData(), &info) != 0 && existing != "/")
        existing = parentOf(existing);
    if (existing != configHome && info.st_uid != ::geteuid() && info.st_uid != 0)
        return Foreign{existing, info.st_uid};
    return std::nullopt;
}

// The store file, a link's target and the folder that target is in.
std::optional<Foreign> foreignFile(const QByteArray &path, const QByteArray &target)
{
    if (auto foreign = foreignEntry(path))
        return foreign;
    if (target == path)
        return std::nullopt;
    if (auto foreign = foreignEntry(target))
        return foreign;
    return foreignEntry(parentOf(target));
}

void refuseForeign(const Foreign &foreign)
{
    // Once a run: every save would find the same.
    static std::atomic_bool said{false};
    if (said.exchange(true))
        return;
    qCWarning(lcSettings, "settings not saved: %s belongs to another user (uid %u), so the store there is read but "
                          "never written; the values of this run serve until it ends",
              foreign.path.constData(), unsigned(foreign.owner));
}

QByteArray storePath(const QString &folder)
{
    return QFile::encodeName(folder + kRelativePath);
}

} // namespace

std::vector<QVariantMap> readStoredValues()
{
    QStringList folders{xdgConfigHome()};
    folders += xdgConfigDirs();
    std::vector<QVariantMap> sources;
    for (const QString &folder : folders) {
        const FileRead file = readFile(storePath(folder));
        if (file.state != FileState::Read)
            continue;
        // A damaged file tells nothing reliable, not even its readable lines.
        if (auto values = readIniValues(file.bytes))
            sources.push_back(std::move(*values));
    }
    return sources;
}

bool writeStoredValues(const StoredValues &values)
{
    const QByteArray path = storePath(xdgConfigHome());
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
    if (const auto foreign = foreignFolder(QFile::encodeName(QDir::cleanPath(xdgConfigHome())), folder)) {
        refuseForeign(*foreign);
        return false;
    }
    struct stat entry {};
    if (::lstat(path.constData(), &entry) != 0 && errno == ENOENT && !QDir().mkpath(QFile::decodeName(folder)))
        return false;
    const FolderLock lock(folder);
    if (lock.timedOut()) {
        qCWarning(lcSettings, "settings not saved: another process has held %s locked for more than %d s; "
                              "the values of this run serve until it ends",
                  folder.constData(), kSaveLockWaitMs / 1000);
        return false;
    }
    if (!lock.isLocked())
        return false;
    const auto target = writableTarget(path);
    if (!target)
        return false;
    if (const auto foreign = foreignFile(path, *target)) {
        refuseForeign(*foreign);
        return false;
    }
    removeLeftovers(*target);

    const FileRead current = readFile(*target);
    QByteArray text;
    int keepMode = -1;
    switch (current.state) {
    case FileState::Missing:
        break;
    case FileState::Read:
        if (readIniValues(current.bytes)) {
            text = current.bytes;
            keepMode = int(current.mode);
            break;
        }
        [[fallthrough]];
    case FileState::TooLarge:
        // Only the store's own damaged file is moved aside; a file a link leads to may belong to anything.
        if (*target != path || !keepAside(path))
            return false;
        break;
    case FileState::NotRegular:
    case FileState::Unreadable:
        return false;
    }
    QByteArray updated = withIniValues(text, values);
    if (updated.size() > kMaxSettingsFileSize && keepMode >= 0) {
        // Grown past the limit, the next start would find it damaged: it is kept beside, like a damaged
        // one, and a store of the saved values alone takes its place.
        if (*target != path || !keepAside(path))
            return false;
        updated = withIniValues({}, values);
        keepMode = -1;
    }
    return replaceFile(*target, updated, keepMode);
}
