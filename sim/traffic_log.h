#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// One line per event, "<CLOCK_MONOTONIC ms> <rx|tx|--> <hex bytes> |<text>|", flushed at once
// so that a test or benchmark can read it while the sim runs. A reply (tx) carries the time its last
// byte was handed to the line; received bytes (rx) the time the sim read them.
class TrafficLog {
public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog &) = delete;
    TrafficLog &operator=(const TrafficLog &) = delete;

    // "-" is stderr; an empty target logs nothing.
    bool open(const QString &target);

    void received(const QByteArray &bytes, double timeMs);
    void sent(const QByteArray &bytes, double timeMs);
    void note(const QByteArray &text, double timeMs);

    static double nowMs();
    static QByteArray hexAndText(const QByteArray &bytes);

private:
    void line(const char *direction, const QByteArray &body, double timeMs);

    std::FILE *m_file = nullptr;
    bool m_ownsFile = false;
};
