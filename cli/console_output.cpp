#include "console_output.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void writeLine(std::FILE *stream, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void ConsoleOutput::result(const QJsonObject &record, const QStringList &lines)
{
    QMutexLocker lock(&m_mutex);
    if (m_json) {
        writeLine(stdout, QJsonDocument(record).toJson(QJsonDocument::Compact));
        return;
    }
    for (const QString &line : lines)
        writeLine(stdout, line.toUtf8());
}

void ConsoleOutput::progress(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    if (m_progress)
        writeLine(stderr, line.toUtf8());
}

void ConsoleOutput::diagnostic(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    writeLine(stderr, QByteArrayLiteral("modulebench-cli: ") + line.toUtf8());
}
