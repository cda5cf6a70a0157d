#pragma once

#include "clock.h"
#include "serial_device.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

// Time that moves only when the code under test waits: a pause, or an empty read of about 1 ms.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QStringList &log) : m_log(log) {}
    std::uint32_t milliseconds() override { return m_now; }
    void sleep(int ms) override;
    void advance(int ms) { m_now += static_cast<std::uint32_t>(ms); }

private:
    QStringList &m_log;
    std::uint32_t m_now = 0x12345;
};

// A module behind a serial port, driven by a script: which ports open, where the module sits,
// what it answers and which requests it leaves unanswered. Opens, closes and requests go to the log.
class ScriptedModule final : public SerialDevice {
public:
    ScriptedModule(FakeClock &clock, QStringList &log) : m_clock(clock), m_log(log) {}

    // The script.
    QSet<int> presentPorts;            // ports that open
    std::function<bool(int port)> refuseOpen; // a present port that refuses this open
    int modulePort = 0;                // where the module is connected; 0: nowhere
    QByteArray moduleLineSettings = "19200,e,8,1";
    QByteArray serial = "A1B2C3D4";
    QByteArray version = "03.20-01";
    QByteArray customer = "ACME WAREHOUSE NORTH 012345678";
    QSet<QByteArray> neverAnswered;         // command texts (or their first 3 characters)
    QHash<QByteArray, int> unansweredFirst; // leave the first n requests of a command unanswered
    int serialReplyPadding = 0;              // characters added to the serial-number reply text

    // What happened.
    int opens = 0;
    int closes = 0;
    int openViolations = 0; // an open while open, a close while closed
    QList<QByteArray> requests;
    int count(const QByteArray &command) const;

    bool open(int portNumber, const QByteArray &lineSettings) override;
    // "/dev/scripted/N"; a port that is not present is no such port, one that refuses is busy.
    PortStatus lastOpenStatus() const override { return m_status; }
    void close() override;
    void writeByte(char value) override;
    void writeBlock(const char *bytes, int count) override;
    bool readByte(char &value) override;
    void discardInput() override { m_input.clear(); }

    static QByteArray frame(const QByteArray &text);

private:
    PortStatus m_status;
    void requestComplete();
    std::optional<QByteArray> answer(const QByteArray &command);

    FakeClock &m_clock;
    QStringList &m_log;
    bool m_open = false;
    int m_port = 0;
    QByteArray m_lineSettings;
    QByteArray m_output;
    QByteArray m_input;
};
