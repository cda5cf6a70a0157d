#include "sim_loop.h"

#include "line_settings.h"
#include "pseudo_terminal.h"
#include "traffic_log.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}

constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::int64_t kNsPerSecond = 1000000000;
// A UART hands bytes over in bursts of its FIFO, not one by one; so does the stream.
constexpr int kStreamBurst = 16;
const QByteArray kStreamPattern = "STREAM 0123456789 abcdef\r\n";

std::int64_t nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

timespec toTimespec(std::int64_t ns)
{
    timespec t{};
    t.tv_sec = time_t(ns / kNsPerSecond);
    t.tv_nsec = long(ns % kNsPerSecond);
    return t;
}

class SimLoop {
public:
    explicit SimLoop(const SimConfig &config)
        : m_config(config)
        , m_module(config.identity, config.faults)
        , m_late(config.lateFrom.isEmpty())
    {
    }

    int run();

private:
    void installSignals();
    bool waitUntil(std::int64_t deadlineNs);
    void readLine();
    void handle(const Request &request);
    void sendReply(const Answer &answer);
    void sendStreamBurst();
    std::int64_t byteTimeNs() const;
    LineSettings moduleSettings() const;

    SimConfig m_config;
    VirtualModule m_module;
    RequestReader m_reader;
    PseudoTerminal m_line;
    PortLink m_link;
    TrafficLog m_log;
    sigset_t m_waitMask{};
    std::int64_t m_nextBurstNs = 0;
    std::int64_t m_resetUntilNs = 0;
    int m_streamPosition = 0;
    bool m_stop = false;
    bool m_late = false; // the delay applies from now on
};

LineSettings SimLoop::moduleSettings() const
{
    return parseLineSettings(kLineSettingsTable[m_module.lineSettingsIndex()]).value_or(LineSettings{});
}

std::int64_t SimLoop::byteTimeNs() const
{
    const LineSettings settings = moduleSettings();
    // Start bit, data bits, parity bit if any, stop bits.
    const int bits = 1 + settings.dataBits + (settings.parity == 'n' ? 0 : 1) + settings.stopBits;
    return settings.baudRate > 0 ? bits * kNsPerSecond / settings.baudRate : 0;
}

void SimLoop::installSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The stop signals stay blocked except inside ppoll, so they never cut a write in half.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, signal);
    sigprocmask(SIG_BLOCK, &blocked, &m_waitMask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&m_waitMask, signal);
}

bool SimLoop::waitUntil(std::int64_t deadlineNs)
{
    for (;;) {
        if (g_stopSignal)
            return false;
        const std::int64_t left = deadlineNs - nowNs();
        if (left <= 0)
            return true;
        const timespec timeout = toTimespec(left);
        ppoll(nullptr, 0, &timeout, &m_waitMask);
    }
}

void SimLoop::readLine()
{
    char buffer[4096];
    const ssize_t count = ::read(m_line.masterFd(), buffer, sizeof buffer);
    if (count <= 0) {
        // EIO without any slave open cannot happen while the sim holds one; avoid spinning anyway.
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            waitUntil(nowNs() + 10 * kNsPerMs);
        return;
    }
    const QByteArray bytes(buffer, int(count));
    m_log.received(bytes, TrafficLog::nowMs());
    for (const Request &request : m_reader.feed(bytes))
        handle(request);
}

void SimLoop::handle(const Request &request)
{
    if (!request.checkHolds) {
        m_log.note("no answer: bad check", TrafficLog::nowMs());
        return;
    }
    if (m_config.stream) {
        m_log.note("no answer: streaming", TrafficLog::nowMs());
        return;
    }
    if (nowNs() < m_resetUntilNs) {
        m_log.note("no answer: resetting after a baud-rate change", TrafficLog::nowMs());
        return;
    }
    const qint32 lineBaud = m_line.lineBaudRate();
    const qint32 moduleBaud = moduleSettings().baudRate;
    if (lineBaud != moduleBaud) {
        m_log.note("no answer: line at " + QByteArray::number(lineBaud) + " baud, module at "
                       + QByteArray::number(moduleBaud),
                   TrafficLog::nowMs());
        return;
    }
    if (!m_late && request.text.startsWith(m_config.lateFrom))
        m_late = true;
    const Answer answer = m_module.answer(request.text);
    if (answer.bytes.isEmpty()) {
        m_log.note("no answer: " + answer.note, TrafficLog::nowMs());
        return;
    }
    if (m_late && m_config.delayMs > 0 && !waitUntil(nowNs() + m_config.delayMs * kNsPerMs))
        return;
    sendReply(answer);
    if (!answer.note.isEmpty())
        m_log.note(answer.note, TrafficLog::nowMs());
    if (answer.newLineSettings) {
        m_module.setLineSettingsIndex(*answer.newLineSettings);
        m_resetUntilNs = nowNs() + std::int64_t(m_config.resetMs) * kNsPerMs;
    }
}

void SimLoop::sendReply(const Answer &answer)
{
    // Each byte appears when its last bit would have left the module's UART.
    const std::int64_t byteNs = byteTimeNs();
    const std::int64_t startNs = nowNs();
    double lastByteMs = 0.0;
    int dropped = 0;
    int sent = 0;
    for (; sent < answer.bytes.size(); ++sent) {
        if (!waitUntil(startNs + (sent + 1) * byteNs))
            break;
        // Stamped before the write: the tool cannot have the byte earlier, so a reader that measures
        // from here never gets a time below the real one, even if the sim is preempted after the write.
        lastByteMs = TrafficLog::nowMs();
        if (::write(m_line.masterFd(), answer.bytes.constData() + sent, 1) != 1)
            ++dropped;
    }
    if (sent == 0)
        return;
    // A reply cut short by a stop signal is logged as far as it went.
    m_log.sent(answer.bytes.left(sent), lastByteMs);
    if (dropped > 0)
        m_log.note(QByteArray::number(dropped) + " bytes dropped: the line's input is full", lastByteMs);
}

void SimLoop::sendStreamBurst()
{
    QByteArray burst;
    for (int i = 0; i < kStreamBurst; ++i) {
        burst.append(kStreamPattern.at(m_streamPosition));
        m_streamPosition = (m_streamPosition + 1) % kStreamPattern.size();
    }
    const std::int64_t now = nowNs();
    if (::write(m_line.masterFd(), burst.constData(), size_t(burst.size())) == burst.size())
        m_log.sent(burst, TrafficLog::nowMs());
    const std::int64_t burstNs = kStreamBurst * byteTimeNs();
    m_nextBurstNs += burstNs;
    // After a stall, go on from now instead of catching up in one rush.
    if (m_nextBurstNs < now)
        m_nextBurstNs = now + burstNs;
}

int SimLoop::run()
{
    installSignals();
    // Replies are paced in fractions of a millisecond; the default 50 us timer slack is too coarse.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    if (!m_log.open(m_config.logTarget)) {
        std::fprintf(stderr, "modulebench-sim: cannot open log %s\n", qPrintable(m_config.logTarget));
        return 1;
    }
    QString error;
    if (!m_line.open(error)) {
        std::fprintf(stderr, "modulebench-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (m_config.comNumber > 0 && !m_link.create(m_config.comNumber, m_line.slavePath(), error)) {
        std::fprintf(stderr, "modulebench-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", m_line.slavePath().constData());
    std::fflush(stdout);

    const double startMs = TrafficLog::nowMs();
    m_log.note("line " + m_line.slavePath() + (m_link.path().isEmpty() ? QByteArray() : " as " + m_link.path()),
               startMs);
    m_log.note(QByteArray("module at line settings ") + QByteArray::number(m_module.lineSettingsIndex()) + " \""
                   + kLineSettingsTable[m_module.lineSettingsIndex()] + '"',
               startMs);

    m_nextBurstNs = nowNs();
    while (!m_stop && !g_stopSignal) {
        pollfd fds[2] = {{m_line.masterFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t count = m_config.exitOnEof ? 2 : 1;
        timespec timeout{};
        const timespec *timeoutPointer = nullptr;
        if (m_config.stream) {
            const std::int64_t left = m_nextBurstNs - nowNs();
            timeout = toTimespec(left > 0 ? left : 0);
            timeoutPointer = &timeout;
        }
        const int ready = ppoll(fds, count, timeoutPointer, &m_waitMask);
        if (ready < 0)
            continue;
        if (fds[0].revents & POLLIN)
            readLine();
        else if (fds[0].revents & (POLLHUP | POLLERR))
            waitUntil(nowNs() + 10 * kNsPerMs);
        if (count > 1 && fds[1].revents) {
            // Each byte that comes on stdin asks whether the log holds everything so far.
            char sink[256];
            const ssize_t got = ::read(STDIN_FILENO, sink, sizeof sink);
            if (got <= 0)
                m_stop = true;
            for (ssize_t i = 0; i < got; ++i)
                m_log.mark();
        }
        if (m_config.stream && nowNs() >= m_nextBurstNs)
            sendStreamBurst();
    }
    m_log.note(g_stopSignal ? "stopped by signal " + QByteArray::number(int(g_stopSignal)) : "stdin closed",
               TrafficLog::nowMs());
    m_link.remove();
    return 0;
}

} // namespace

int runSim(const SimConfig &config)
{
    SimLoop loop(config);
    return loop.run();
}
