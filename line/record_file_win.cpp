#include "record_file.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

struct RecordFile::Private {
    QFile file;
    bool standardOutput = false;
};

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
    if (d->file.write(bytes) == bytes.size())
        return true;
    error = d->file.errorString();
    if (d->file.size() != before && !d->file.resize(before))
        error += QStringLiteral("; the part written could not be cut off");
    return false;
}
