// Arbitrary record files for the CSV header reader: the file's first line is read as the program reads it
// (RecordFile's first line, CsvLog's fields), and a record written in the columns found is checked. A file
// taken has at least one known column, no column with spaces at its ends; a record appended is one line with
// as many fields as the file has columns, and no cell a spreadsheet would take for a formula.
// Built as a libFuzzer target with clang, and run over the stored corpus by a plain sanitized test.

#include "csv_log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "CSV header reader fault: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

QString recordPath()
{
    // Each record is synced: in memory (/dev/shm where there is one) that costs nothing.
    static const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString path =
        folder + QStringLiteral("/mb-csv-header-fuzz-%1.csv").arg(QCoreApplication::applicationPid());
    return path;
}

void check(const QByteArray &bytes)
{
    {
        QFile file(recordPath());
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the record file cannot be written");
        file.write(bytes);
    }
    CsvLog log;
    QString error;
    const bool taken = log.open(recordPath(), {}, error);
    if (!taken)
        return;
    bool known = false;
    for (const QString &column : log.columns()) {
        known |= CsvLog::kColumns.contains(column);
        require(column == column.trimmed(), "a column name with spaces at its ends");
    }
    require(known, "a file without a known column taken");

    // A record whose every text is a piece of the first line: quotes, commas, controls, formula starts.
    const QString text = QString::fromUtf8(bytes.left(512));
    ModuleRecord record;
    record.time = QDateTime::fromMSecsSinceEpoch(1765353600000);
    QString *const texts[] = {&record.station, &record.port, &record.lineSettings, &record.serialNumber,
                              &record.outcome};
    QStringList values;
    int piece = 0;
    for (QString *value : texts)
        values << (*value = text.mid(piece++ * 7, 13));
    record.version = text.mid(piece++ * 7, 13);
    record.customerRegister = text.mid(piece++ * 7, 13);
    values << *record.version << *record.customerRegister;
    QFile before(recordPath());
    require(before.open(QIODevice::ReadOnly), "the record file cannot be read");
    const qint64 oldSize = before.size();
    require(log.append(record, error), "a record could not be appended");
    before.seek(oldSize);
    QByteArray added = before.readAll();
    if (added.startsWith('\n'))
        added.remove(0, 1);
    require(added.endsWith('\n') && added.count('\n') == 1 && !added.contains('\r'), "a record is not one line");
    const QStringList fields = CsvLog::fields(QString::fromUtf8(added.chopped(1)));
    require(fields.size() == log.columns().size(), "a record's fields do not match the columns");
    for (const QString &value : values) {
        QString cell = CsvLog::quoted(value);
        if (cell.size() >= 2 && cell.startsWith(QLatin1Char('"')))
            cell = cell.mid(1);
        static const QString kFormulaStart = QStringLiteral("=+-@\t\r");
        if (!cell.isEmpty() && kFormulaStart.contains(cell.at(0))) {
            bool number = false;
            cell.toDouble(&number);
            require(number, "a cell a spreadsheet takes for a formula");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    // Removed once nothing holds it open (Windows keeps an open file's name).
    QFile::remove(recordPath());
    return 0;
}
