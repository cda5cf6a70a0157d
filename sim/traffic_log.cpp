#include "traffic_log.h"

#include <QFile>

#include <ctime>

TrafficLog::~TrafficLog()
{
    if (m_ownsFile)
        std::fclose(m_file);
}

bool TrafficLog::open(const QString &target)
{
    if (target.isEmpty())
        return true;
    if (target == QLatin1String("-")) {
        m_file = stderr;
        return true;
    }
    m_file = std::fopen(QFile::encodeName(target).constData(), "w");
    m_ownsFile = m_file != nullptr;
    return m_file != nullptr;
}

double TrafficLog::nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1.0e6;
}

QByteArray TrafficLog::hexAndText(const QByteArray &bytes)
{
    QByteArray text;
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        text.append(u >= 0x20 && u < 0x7F ? b : '.');
    }
    return bytes.toHex(' ').toUpper() + " |" + text + '|';
}

void TrafficLog::received(const QByteArray &bytes, double timeMs)
{
    line("rx", hexAndText(bytes), timeMs);
}

void TrafficLog::sent(const QByteArray &bytes, double timeMs)
{
    line("tx", hexAndText(bytes), timeMs);
}

void TrafficLog::note(const QByteArray &text, double timeMs)
{
    line("--", text, timeMs);
}

void TrafficLog::line(const char *direction, const QByteArray &body, double timeMs)
{
    if (!m_file)
        return;
    std::fprintf(m_file, "%.3f %s %s\n", timeMs, direction, body.constData());
    std::fflush(m_file);
}
