#include "csv_log.h"

const QStringList CsvLog::kColumns{QStringLiteral("time"),          QStringLiteral("port"),
                                   QStringLiteral("line_settings"), QStringLiteral("serial_number"),
                                   QStringLiteral("version"),       QStringLiteral("customer_register"),
                                   QStringLiteral("outcome"),       QStringLiteral("station"),
                                   QStringLiteral("duration_ms")};

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

bool CsvLog::append(const QMap<QString, QString> &values, QString &error)
{
    QStringList row;
    for (const QString &column : m_columns)
        row << values.value(column);
    QByteArray bytes = line(row);
    QMutexLocker lock(&m_mutex);
    // A last line without its line end (an editor, a cut-off copy) keeps its own line.
    if (!m_file.endsWithLineEnd())
        bytes.prepend('\n');
    return m_file.appendWhole(bytes, error);
}

QString CsvLog::quoted(const QString &value)
{
    // The line settings carry commas, a customer register may carry anything.
    static const QString kSpecial = QStringLiteral(",\"\r\n");
    bool needsQuotes = false;
    for (const QChar c : value)
        needsQuotes |= kSpecial.contains(c);
    if (!needsQuotes)
        return value;
    QString inner = value;
    inner.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
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
    return fields.join(QLatin1Char(',')).toUtf8() + "\n";
}
