#include "csv_log.h"

const QStringList CsvLog::kColumns{QStringLiteral("time"),          QStringLiteral("port"),
                                   QStringLiteral("line_settings"), QStringLiteral("serial_number"),
                                   QStringLiteral("version"),       QStringLiteral("customer_register"),
                                   QStringLiteral("outcome")};

bool CsvLog::open(const QString &path, QString &error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = m_file.errorString();
        return false;
    }
    if (m_file.size() == 0 && !writeLine(kColumns)) {
        error = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

bool CsvLog::append(const QStringList &values)
{
    return writeLine(values);
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

bool CsvLog::writeLine(const QStringList &values)
{
    QStringList fields;
    for (const QString &value : values)
        fields << quoted(value);
    const QByteArray line = fields.join(QLatin1Char(',')).toUtf8() + "\n";
    // One write per line: a line is in the file whole or not at all.
    return m_file.write(line) == line.size() && m_file.flush();
}
