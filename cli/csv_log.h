#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// The production line's record: one line per module, appended and written out at once, so the file
// is complete whenever the program ends. A new or empty file gets the header first.
class CsvLog {
public:
    static const QStringList kColumns;

    // False with the system's reason when the file cannot be opened for appending.
    bool open(const QString &path, QString &error);
    bool isOpen() const { return m_file.isOpen(); }
    // One value per column, in their order.
    bool append(const QStringList &values);

    static QString quoted(const QString &value);

private:
    bool writeLine(const QStringList &values);

    QFile m_file;
};
