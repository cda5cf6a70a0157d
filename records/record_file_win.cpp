#include "record_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <io.h>
#include <windows.h>

struct RecordFile::Private {
    QFile file;
    bool standardOutput = false;
};

namespace {

// The system's words for an error code, in the program's style (lower case, no final full stop).
QString systemError(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString text = length ? QString::fromWCharArray(buffer, int(length)).trimmed()
                          : QStringLiteral("system error %1").arg(code);
    LocalFree(buffer);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

} // namespace

RecordFile::RecordFile() : d(new Private) {}

RecordFile::~RecordFile() = default;

bool RecordFile::open(const QString &name, const QByteArray &, QString &error)
{
    // Windows hands the program its arguments as UTF-16: the name is as given.
    const QFileInfo info(name);
    if (info.exists() && !info.isFile()) {
        error = QStringLiteral("is not a regular file");
        return false;
    }
    d->file.setFileName(name);
    if (!d->file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        error = d->file.errorString();
        return false;
    }
    return true;
}

void RecordFile::openStandardOutput()
{
    d->standardOutput = true;
}

bool RecordFile::isOpen() const
{
    return d->file.isOpen() || d->standardOutput;
}

bool RecordFile::isStandardOutput() const
{
    return d->standardOutput;
}

QByteArray RecordFile::firstLine() const
{
    if (!d->file.isOpen())
        return {};
    const qint64 at = d->file.pos();
    d->file.seek(0);
    QByteArray head = d->file.read(4096);
    d->file.seek(at);
    const int end = head.indexOf('\n');
    if (end >= 0)
        head.truncate(end);
    if (head.endsWith('\r'))
        head.chop(1);
    return head;
}

bool RecordFile::endsWithLineEnd() const
{
    if (!d->file.isOpen() || d->file.size() == 0)
        return true;
    const qint64 at = d->file.pos();
    d->file.seek(d->file.size() - 1);
    char last = 0;
    const bool ok = d->file.getChar(&last);
    d->file.seek(at);
    return ok && last == '\n';
}

bool RecordFile::appendWhole(const QByteArray &bytes, QString &error)
{
    if (d->standardOutput) {
        const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
                        && std::fflush(stdout) == 0;
        if (!ok)
            error = QStringLiteral("standard output could not be written");
        return ok;
    }
    const qint64 before = d->file.size();
    // Written through the system's handle, so that a write that goes out in part is continued and the next one
    // gives the system's reason (a full disk, a quota, an I/O error). Offsets of all ones: at the file's end.
    const HANDLE handle = HANDLE(_get_osfhandle(d->file.handle()));
    qint64 done = 0;
    DWORD reason = ERROR_SUCCESS;
    while (done < bytes.size()) {
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        if (!WriteFile(handle, bytes.constData() + done, DWORD(bytes.size() - done), &written, &atEnd)) {
            reason = GetLastError();
            break;
        }
        if (written == 0) {
            reason = ERROR_WRITE_FAULT;
            break;
        }
        done += written;
    }
    // The record counts as written only once it is on the disk.
    if (reason == ERROR_SUCCESS && !FlushFileBuffers(handle))
        reason = GetLastError();
    if (reason == ERROR_SUCCESS)
        return true;
    error = systemError(reason);
    if (done > 0 && !d->file.resize(before))
        error += QStringLiteral("; the part written could not be cut off");
    return false;
}

bool prepareDatabaseFile(const QString &path, bool write, bool stationOwn, QString &, bool *made)
{
    // The user's own %LOCALAPPDATA% is no other user's to write in; its folder is made where missing.
    if (stationOwn && write)
        QDir().mkpath(QFileInfo(path).absolutePath());
    // A file that is not there yet is made here, so that it is known to be this run's own.
    QFile file(path);
    if (write && !file.exists() && file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && made)
        *made = true;
    return true;
}
