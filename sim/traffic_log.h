#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

// One line per event, "<CLOCK_MONOTONIC ms> <rx|tx|--> <hex bytes> |<text>|", written and flushed at
// once by a thread of its own, so that a test or benchmark can read it while the sim runs and a write
// that waits for a busy disk never holds up a reply. A reply (tx) carries the time its last byte was
// handed to the line; received bytes (rx) the time the sim read them.
class TrafficLog {
public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog &) = delete;
    TrafficLog &operator=(const TrafficLog &) = delete;

    // "-" is stderr; an empty target logs nothing. Once open, the lines go out through the writer thread;
    // the destructor writes what is left before it returns.
    bool open(const QString &target);

    void received(const QByteArray &bytes, double timeMs);
    void sent(const QByteArray &bytes, double timeMs);
    void note(const QByteArray &text, double timeMs);
    // Once every line logged before this is written and flushed, "logged" goes to standard output (a test
    // that reads the log knows then that it holds everything up to its question).
    void mark();

    static double nowMs();
    static QByteArray hexAndText(const QByteArray &bytes);

private:
    void line(const char *direction, const QByteArray &body, double timeMs);
    void writeLoop();

    std::FILE *m_file = nullptr;
    bool m_ownsFile = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QByteArray m_pending; // lines not yet written
    int m_marks = 0;      // marks asked for after them
    bool m_closing = false;
    std::thread m_writer;
};
