#include "traffic_log_reader.h"

#include <QFile>
#include <QList>

#include <ctime>

namespace {

bool parseLine(const QByteArray &line, TrafficEvent &event)
{
    // "<ms> <rx|tx|--> <body>"
    const int firstSpace = line.indexOf(' ');
    if (firstSpace <= 0 || line.size() < firstSpace + 4 || line.at(firstSpace + 3) != ' ')
        return false;
    bool ok = false;
    event.timeMs = line.left(firstSpace).toDouble(&ok);
    if (!ok)
        return false;
    const QByteArray direction = line.mid(firstSpace + 1, 2);
    const QByteArray body = line.mid(firstSpace + 4);
    if (direction == "--") {
        event.kind = TrafficEvent::Kind::Note;
        event.text = body;
        return true;
    }
    if (direction != "rx" && direction != "tx")
        return false;
    event.kind = direction == "rx" ? TrafficEvent::Kind::Received : TrafficEvent::Kind::Sent;
    // The hexadecimal part ends where the text part, "|...|", begins.
    const int bar = body.indexOf(" |");
    if (bar < 0)
        return false;
    event.bytes = QByteArray::fromHex(body.left(bar));
    return true;
}

} // namespace

std::vector<TrafficEvent> parseTrafficLog(const QByteArray &log)
{
    std::vector<TrafficEvent> events;
    int start = 0;
    for (;;) {
        const int end = log.indexOf('\n', start);
        if (end < 0)
            break;
        TrafficEvent event;
        if (parseLine(log.mid(start, end - start), event))
            events.push_back(event);
        start = end + 1;
    }
    return events;
}

std::vector<TrafficEvent> TrafficLogFollower::readNew()
{
    QFile file(QString::fromLocal8Bit(m_path));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_offset))
        return {};
    const QByteArray data = file.readAll();
    const int complete = data.lastIndexOf('\n') + 1;
    m_offset += complete;
    return parseTrafficLog(data.left(complete));
}

double monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1.0e6;
}
