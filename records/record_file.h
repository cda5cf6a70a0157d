#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The file production-line records are appended to. Only a regular file (or standard output) is taken, and
// the check is made without waiting, so a FIFO or a device never holds the program before a port is touched.
// Each record goes out in one write and is on the disk (fsync, FlushFileBuffers) before it counts as
// written; one that goes out only in part is cut off again, so the file never ends in half a record.
class RecordFile {
public:
    RecordFile();
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Opens (creating) the file for appending. nameBytes: the name's bytes as given, where the platform has
    // such (Unix); otherwise name. False with a reason in error. On Unix a final link in a sticky folder
    // is followed only when it belongs to the running user, root or the folder's owner.
    bool open(const QString &name, const QByteArray &nameBytes, QString &error);
    // Records on standard output: nothing to read back, nothing to cut off.
    void openStandardOutput();
    bool isOpen() const;
    bool isStandardOutput() const;

    // The first line, without its line end (at most 4 KiB); empty for an empty file or standard output.
    QByteArray firstLine() const;
    // True when the file is empty or its last byte ends a line.
    bool endsWithLineEnd() const;

    // Appends the bytes whole and on the disk, or not at all; false with the system's reason.
    bool appendWhole(const QByteArray &bytes, QString &error);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Before SQLite opens a database file (which it does by name). A final link in a sticky folder is followed only
// when it belongs to the running user, root or the folder's owner, as RecordFile::open has it; a file that is
// to be written and is not there yet is made here, through no link, so that no one can plant one meanwhile.
// stationOwn, for the station's own file: nothing of it (its folders, the file, a link's target) may belong to
// another user, root's runs included, and the folders it needs are made 0700, the file 0600, whatever the
// umask. False with the reason in error; made, when given, says whether the file was made here.
bool prepareDatabaseFile(const QString &path, bool write, bool stationOwn, QString &error, bool *made = nullptr);
