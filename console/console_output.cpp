#include "console_output.h"

#include "console_platform.h"

#include <QJsonDocument>

#include <cstdio>

QString printable(const QByteArray &value)
{
    QString text;
    text.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0))
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        else
            text += QChar::fromLatin1(c);
    }
    return text;
}

QString printable(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (const QChar c : value) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || c.category() == QChar::Other_Format)
            text += QStringLiteral("\\x%1").arg(unsigned(unit), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

void writeShownText(std::FILE *stream, const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = printable(line);
    writeText(stream, lines.join(QLatin1Char('\n')));
}

namespace {

// The one way out for text: whatever a line holds, and wherever it came from, the terminal gets it printable.
void writeLine(std::FILE *stream, const QString &line)
{
    writeText(stream, printable(line) + QLatin1Char('\n'));
}

} // namespace

QString jsonLine(const QJsonObject &record)
{
    const QString text = QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        // Only inside strings, where \uXXXX is the same character.
        const char16_t unit = c.unicode();
        if (unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || c.category() == QChar::Other_Format)
            line += QStringLiteral("\\u%1").arg(unsigned(unit), 4, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}

namespace {

void writeJson(const QJsonObject &record)
{
    writeText(stdout, jsonLine(record) + QLatin1Char('\n'));
}

} // namespace

void ConsoleOutput::result(const QJsonObject &record, const QStringList &lines)
{
    QMutexLocker lock(&m_mutex);
    if (m_json) {
        writeJson(record);
        return;
    }
    for (const QString &line : lines)
        writeLine(stdout, line);
}

void ConsoleOutput::progress(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    if (m_progress)
        writeLine(stderr, line);
}

void ConsoleOutput::diagnostic(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    writeLine(stderr, QStringLiteral("modulebench-cli: ") + line);
}
