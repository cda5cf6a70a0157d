#pragma once

#include "module_record.h"
#include "record_file.h"

#include <QMutex>
#include <QString>
#include <QStringList>

// The production line's record: one line per module, appended in one write, so the file holds whole lines
// only whenever and however the program ends. A new or empty file gets the header first; an existing file's
// header decides which columns are written and in which order (a file begun by an older version keeps its
// columns). Several fixtures may append at once.
class CsvLog {
public:
    // Every column this version writes, in the order of a new file.
    static const QStringList kColumns;

    // name "-": standard output (with the header). False with the reason when the file cannot be used.
    bool open(const QString &name, const QByteArray &nameBytes, QString &error);
    bool isOpen() const { return m_file.isOpen(); }
    // The file's columns.
    const QStringList &columns() const { return m_columns; }
    // The record's values in the file's columns; a column this version does not know stays empty. False with
    // the reason when the line could not be written whole (the file is then as it was).
    bool append(const ModuleRecord &record, QString &error);

    // One cell: control characters as \xHH; a text a spreadsheet would take for a formula (beginning with
    // =, +, -, @, a tab or a carriage return, and no plain number) with an apostrophe in front, in quotes;
    // quotes where commas, quotes or line ends are.
    static QString quoted(const QString &value);
    // One CSV line's fields (quotes undone).
    static QStringList fields(const QString &line);

private:
    static QByteArray line(const QStringList &values);

    RecordFile m_file;
    QStringList m_columns;
    QMutex m_mutex;
};
