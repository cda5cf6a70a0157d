#include "traffic_log.h"

#include <QFile>

#include <ctime>
#include <utility>

TrafficLog::~TrafficLog()
{
    if (m_writer.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_wake.notify_one();
        m_writer.join();
    }
    if (m_ownsFile)
        std::fclose(m_file);
}

void TrafficLog::writeLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_closing || !m_pending.isEmpty() || m_marks > 0; });
        if (m_pending.isEmpty() && m_marks == 0 && m_closing)
            return;
        const QByteArray lines = std::move(m_pending);
        m_pending.clear();
        const int marks = std::exchange(m_marks, 0);
        // The disk may be slow: the sim's loop goes on adding lines meanwhile.
        lock.unlock();
        std::fwrite(lines.constData(), 1, size_t(lines.size()), m_file);
        std::fflush(m_file);
        for (int i = 0; i < marks; ++i)
            std::fputs("logged\n", stdout);
        std::fflush(stdout);
        lock.lock();
    }
}

bool TrafficLog::open(const QString &target)
{
    if (target.isEmpty())
        return true;
    if (target == QLatin1String("-")) {
        m_file = stderr;
    } else {
        m_file = std::fopen(QFile::encodeName(target).constData(), "w");
        m_ownsFile = m_file != nullptr;
    }
    if (m_file)
        m_writer = std::thread([this] { writeLoop(); });
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

void TrafficLog::mark()
{
    if (!m_file) {
        std::fputs("logged\n", stdout);
        std::fflush(stdout);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_marks;
    }
    m_wake.notify_one();
}

void TrafficLog::line(const char *direction, const QByteArray &body, double timeMs)
{
    if (!m_file)
        return;
    char time[32];
    std::snprintf(time, sizeof time, "%.3f ", timeMs);
    const QByteArray text = time + QByteArray(direction) + ' ' + body + '\n';
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending += text;
    }
    m_wake.notify_one();
}
