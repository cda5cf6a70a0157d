#pragma once

#include <QByteArray>

#include <vector>

// The traffic log read back, for tests and benchmarks that run the sim with --log FILE.
struct TrafficEvent {
    enum class Kind { Received, Sent, Note };
    double timeMs = 0.0; // CLOCK_MONOTONIC, as the sim wrote it
    Kind kind = Kind::Note;
    QByteArray bytes; // the bytes of an rx or tx line
    QByteArray text;  // the text of a note
};

// Complete lines only; a last line without its newline is left for the next read.
std::vector<TrafficEvent> parseTrafficLog(const QByteArray &log);

// Reads a growing log file from where the previous call stopped.
class TrafficLogFollower {
public:
    explicit TrafficLogFollower(const QByteArray &path) : m_path(path) {}
    std::vector<TrafficEvent> readNew();

private:
    QByteArray m_path;
    qint64 m_offset = 0;
};

// CLOCK_MONOTONIC in milliseconds, the clock of the log's time stamps.
double monotonicMs();
