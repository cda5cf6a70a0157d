#pragma once

#include "clock.h"
#include "serial_device.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

// Time that moves only when the code under test waits: a pause, or an empty read of about 1 ms.
// The threads of a parallel search share it: a thread that has joined waits in earnest, and while any
// thread has joined, time moves only once every one of them waits, to the first moment one of them
// waits for. So no thread's wait is cut short by another's, and the threads keep pace as on a real
// clock. A thread that has not joined moves it at once, as the one thread of an operation does.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QStringList &log) : m_log(log) {}
    std::uint32_t milliseconds() override;
    void sleep(int ms) override; // also logged
    void advance(int ms);

    // `count` threads are about to join: time stands still for those already in until all have come
    // (or until 20 s have passed on the real clock, which gaveUpWaiting() then tells).
    void expectThreads(int count);
    void join();
    void leave();
    bool gaveUpWaiting() const;

private:
    struct Waiter {
        std::uint64_t until = 0;
        bool woken = false;
    };
    void pass(int ms);
    void moveIfAllWait(); // with m_mutex held

    QStringList &m_log;
    mutable std::mutex m_mutex;
    std::condition_variable m_moved;
    std::uint64_t m_now = 0x12345;
    std::set<std::thread::id> m_joined;
    int m_expected = 0;
    int m_visitors = 0; // threads not joined that wait while others have
    std::list<Waiter *> m_waiters;
    bool m_gaveUp = false;
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
    // Further modules, by port: each answers S01, V01 and G06 at its own line settings with its own serial number.
    struct OtherModule {
        QByteArray lineSettings;
        QByteArray serial;
    };
    QHash<int, OtherModule> otherModules;
    // The script of another scripted module (not what happened to it).
    void copyScript(const ScriptedModule &from);

    // What happened.
    int opens = 0;
    int closes = 0;
    int openViolations = 0; // an open while open, a close while closed
    QList<QByteArray> requests;
    // For each request: the clock when its start byte went out, and when the pause after its end byte was over.
    QList<QPair<std::uint32_t, std::uint32_t>> requestTimes;
    QList<bool> requestsAnswered;
    int count(const QByteArray &command) const;
    int portNumber() const { return m_port; } // of the last open

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
    std::uint32_t m_requestStart = 0;
};
