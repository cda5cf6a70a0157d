#include "csv_log.h"

const QStringList CsvLog::kColumns = [] {
    QStringList names;
    for (const RecordField field : csvRecordFields())
        names << recordFieldName(field);
    return names;
}();

bool CsvLog::open(const QString &name, const QByteArray &nameBytes, QString &error)
{
    if (name == QLatin1String("-")) {
        m_file.openStandardOutput();
    } else if (!m_file.open(name, nameBytes, error)) {
        return false;
    }
    const QByteArray header = m_file.firstLine();
    if (header.isEmpty()) {
        m_columns = kColumns;
        // A file that is empty or holds only empty lines gets the header on a line of its own.
        QByteArray bytes = line(kColumns);
        if (!m_file.endsWithLineEnd())
            bytes.prepend('\n');
        return m_file.appendWhole(bytes, error);
    }
    m_columns = fields(QString::fromUtf8(header));
    bool known = false;
    for (const QString &column : m_columns)
        known |= kColumns.contains(column);
    if (!known) {
        error = QStringLiteral("its first line is no header of module records (%1)").arg(QString::fromUtf8(header));
        return false;
    }
    return true;
}

bool CsvLog::append(const ModuleRecord &record, QString &error)
{
    QStringList row;
    for (const QString &column : m_columns) {
        QString value;
        for (const RecordField field : csvRecordFields()) {
            if (recordFieldName(field) == column)
                value = recordText(record, field);
        }
        row << value;
    }
    QByteArray bytes = line(row);
    QMutexLocker lock(&m_mutex);
    // A last line without its line end (an editor, a cut-off copy) keeps its own line.
    if (!m_file.endsWithLineEnd())
        bytes.prepend('\n');
    return m_file.appendWhole(bytes, error);
}

namespace {

// -12, +3, 0.5: a spreadsheet reads these as the numbers they are, and no formula can hide in them.
bool isPlainNumber(const QString &value)
{
    int i = value.startsWith(QLatin1Char('-')) || value.startsWith(QLatin1Char('+')) ? 1 : 0;
    int digits = 0;
    bool point = false;
    for (; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else if (c == QLatin1Char('.') && !point)
            point = true;
        else
            return false;
    }
    return digits > 0;
}

bool isControl(char16_t c)
{
    return (c < 0x20 && c != u'\t') || (c >= 0x7f && c <= 0x9f);
}

} // namespace

QString CsvLog::quoted(const QString &value)
{
    // Control characters (a terminal's escape sequences, line ends, C1 codes) are written as \xHH, so a record
    // stays one line and nothing in it acts on whatever shows the file.
    QString cell;
    cell.reserve(value.size());
    for (const QChar c : value) {
        if (isControl(c.unicode()))
            cell += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            cell += c;
    }
    // Spreadsheets take a cell that begins with one of these (or a carriage return, escaped above) for a
    // formula: a register reading "+cmd|' /C calc'!A0" would run a program. An apostrophe in front makes it
    // text. Plain numbers stay as they are; dates and times begin with a digit.
    static const QString kFormulaStart = QStringLiteral("=+-@\t");
    const bool formula = !cell.isEmpty() && kFormulaStart.contains(cell.at(0)) && !isPlainNumber(cell);
    if (formula)
        cell.prepend(QLatin1Char('\''));
    // The line settings carry commas, a customer register may carry anything (its line ends are escaped).
    static const QString kSpecial = QStringLiteral(",\"");
    bool needsQuotes = formula;
    for (const QChar c : cell)
        needsQuotes |= kSpecial.contains(c);
    if (!needsQuotes)
        return cell;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QStringList CsvLog::fields(const QString &line)
{
    QStringList result;
    QString field;
    bool inQuotes = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
        } else if (c == QLatin1Char(',')) {
            result << field.trimmed();
            field.clear();
        } else {
            field += c;
        }
    }
    result << field.trimmed();
    return result;
}

QByteArray CsvLog::line(const QStringList &values)
{
    QStringList fields;
    for (const QString &value : values)
        fields << quoted(value);
    const QByteArray text = fields.join(QLatin1Char(',')).toUtf8();
    // A record of one empty cell is written as "": a blank line is skipped by spreadsheets and readers alike,
    // and the record would be lost.
    return (text.isEmpty() ? QByteArray("\"\"") : text) + "\n";
}
