#pragma once

#include "clock.h"
#include "serial_device.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <cstdint>

// A clock that moves only when told: by the port's reads and by the write pauses.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::uint32_t start = 1000) : m_now(start) {}
    std::uint32_t milliseconds() override { return m_now; }
    void sleep(int ms) override
    {
        m_sleeps.append(ms);
        advance(ms);
    }
    void advance(int ms) { m_now += static_cast<std::uint32_t>(ms); }
    const QList<int> &sleeps() const { return m_sleeps; }

private:
    std::uint32_t m_now;
    QList<int> m_sleeps;
};

// A port fed with bytes that arrive after a given number of writes, recording what goes out.
class ScriptedPort final : public SerialDevice {
public:
    enum class Kind { Byte, Block, Discard };
    struct Event {
        Kind kind;
        QByteArray bytes;
    };
    static constexpr int kAfterRequest = 5; // the request is five writes

    explicit ScriptedPort(FakeClock &clock) : m_clock(clock) {}

    // Bytes that become readable once `writes` writes have gone out (0: waiting already).
    void arriveAfterWrite(int writes, const QByteArray &bytes)
    {
        m_arrivals[writes] += bytes;
        if (writes <= m_writes)
            deliver();
    }
    void reply(const QByteArray &bytes) { arriveAfterWrite(m_writes + kAfterRequest, bytes); }
    // Bytes that become readable once the clock has reached atMs (a reply that comes late).
    void arriveAt(std::uint32_t atMs, const QByteArray &bytes) { m_timedArrivals.append({atMs, bytes}); }
    // After the scripted bytes run out, this pattern repeats for ever (a device that never pauses).
    void streamForever(const QByteArray &pattern) { m_stream = pattern; }
    // The clock moves this much per byte read (the line's speed) and per empty read.
    void setByteTime(int ms) { m_byteTime = ms; }
    void setEmptyReadTime(int ms) { m_emptyReadTime = ms; }

    bool open(int, const QByteArray &) override { return true; }
    void close() override {}
    void writeByte(char value) override
    {
        record(Kind::Byte, QByteArray(1, value));
        m_clock.sleep(1);
    }
    void writeBlock(const char *bytes, int count) override
    {
        record(Kind::Block, QByteArray(bytes, count));
        m_clock.sleep(5);
    }
    bool readByte(char &value) override
    {
        ++m_reads;
        while (!m_timedArrivals.isEmpty() && m_clock.milliseconds() >= m_timedArrivals.front().first)
            m_pending += m_timedArrivals.takeFirst().second;
        if (m_pending.isEmpty() && !m_stream.isEmpty())
            m_pending = m_stream;
        if (m_pending.isEmpty()) {
            ++m_emptyReads;
            m_clock.advance(m_emptyReadTime);
            return false;
        }
        value = m_pending.front();
        m_pending.remove(0, 1);
        m_clock.advance(m_byteTime);
        return true;
    }
    void discardInput() override
    {
        m_events.append({Kind::Discard, {}});
        m_pending.clear();
    }

    const QList<Event> &events() const { return m_events; }
    QByteArray written() const
    {
        QByteArray all;
        for (const Event &event : m_events)
            all += event.bytes;
        return all;
    }
    int reads() const { return m_reads; }
    int emptyReads() const { return m_emptyReads; }
    int unreadBytes() const { return static_cast<int>(m_pending.size()); }
    void clearRecord()
    {
        m_events.clear();
        m_reads = 0;
        m_emptyReads = 0;
    }

private:
    void record(Kind kind, const QByteArray &bytes)
    {
        m_events.append({kind, bytes});
        ++m_writes;
        deliver();
    }
    void deliver()
    {
        for (auto it = m_arrivals.begin(); it != m_arrivals.end();) {
            if (it.key() > m_writes)
                break;
            m_pending += it.value();
            it = m_arrivals.erase(it);
        }
    }

    FakeClock &m_clock;
    QMap<int, QByteArray> m_arrivals;
    QList<QPair<std::uint32_t, QByteArray>> m_timedArrivals; // in the order of their times
    QByteArray m_pending;
    QByteArray m_stream;
    QList<Event> m_events;
    int m_writes = 0;
    int m_reads = 0;
    int m_emptyReads = 0;
    int m_byteTime = 0;
    int m_emptyReadTime = 1;
};

// A good reply frame around a reply text.
inline QByteArray replyFrame(const QByteArray &text)
{
    std::uint8_t check = 0x0F;
    for (char c : text)
        check ^= static_cast<std::uint8_t>(c);
    static const char kDigits[] = "0123456789ABCDEF";
    QByteArray frame(1, 0x0F);
    frame += text;
    frame += kDigits[check >> 4];
    frame += kDigits[check & 0x0F];
    frame += char(0x0D);
    return frame;
}
