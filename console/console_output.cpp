#include "console_output.h"

#include "console_platform.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void writeLine(std::FILE *stream, const QString &line)
{
    writeText(stream, line + QLatin1Char('\n'));
}

} // namespace

void ConsoleOutput::result(const QJsonObject &record, const QStringList &lines)
{
    QMutexLocker lock(&m_mutex);
    if (m_json) {
        writeLine(stdout, QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
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
