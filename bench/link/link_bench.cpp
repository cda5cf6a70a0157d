// Figures of the module link over a pseudo-terminal against modulebench-sim: how soon a command returns
// after the module's last reply byte, how long an unanswered command waits, and what that wait costs
// in CPU time. Prints figures; asserts nothing.
#include "frame_layer.h"
#include "line_settings.h"
#include "module_commands.h"
#include "module_port.h"
#include "test_support.h"
#include "traffic_log_reader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kPort = 3;
constexpr double kLogWaitMs = 2000.0;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    // Nearest rank.
    const auto rank = static_cast<std::size_t>(std::max(1.0, p / 100.0 * double(values.size()) + 0.999999));
    return values[std::min(rank, values.size()) - 1];
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Reads the sim's log until an event that matches turns up; returns it, with every event before it.
// Passes everything to the real port and notes when the request's end byte was handed to it,
// which is where the frame layer's wait begins (after that byte's 1 ms pause).
class StampingPort final : public SerialDevice {
public:
    explicit StampingPort(SerialDevice &port) : m_port(port) {}

    bool open(int portNumber, const QByteArray &lineSettings) override { return m_port.open(portNumber, lineSettings); }
    void close() override { m_port.close(); }
    void writeByte(char value) override
    {
        if (value == FrameLayer::kEndByte)
            m_endByteMs = monotonicMs();
        m_port.writeByte(value);
    }
    void writeBlock(const char *bytes, int count) override { m_port.writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

    double endByteMs() const { return m_endByteMs; }

private:
    SerialDevice &m_port;
    double m_endByteMs = 0.0;
};

template <typename Match>
std::optional<TrafficEvent> waitForEvent(TrafficLogFollower &log, std::vector<TrafficEvent> &before, Match match)
{
    const double deadline = monotonicMs() + kLogWaitMs;
    while (monotonicMs() < deadline) {
        for (const TrafficEvent &event : log.readNew()) {
            if (match(event))
                return event;
            before.push_back(event);
        }
        QThread::usleep(200);
    }
    return std::nullopt;
}

struct Options {
    int replies = 500;
    int timeouts = 20;
    int lineSettingsIndex = kDefaultLineSettingsIndex;
    bool events = true;
};

bool parseOptions(const QCoreApplication &app, Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Link figures over a pseudo-terminal against modulebench-sim."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("replies"), QStringLiteral("Answered S01 commands to time (default 500)."), QStringLiteral("N")},
        {QStringLiteral("timeouts"), QStringLiteral("Unanswered commands to time (default 20)."), QStringLiteral("N")},
        {QStringLiteral("line-settings-index"), QStringLiteral("Line settings 0 to 11 (default 5)."), QStringLiteral("I")},
        {QStringLiteral("no-events"),
         QStringLiteral("Wait without processing Qt events after empty reads (the window processes them).")},
    });
    parser.process(app);
    bool ok = true;
    if (parser.isSet(QStringLiteral("replies")))
        options.replies = parser.value(QStringLiteral("replies")).toInt(&ok);
    if (ok && parser.isSet(QStringLiteral("timeouts")))
        options.timeouts = parser.value(QStringLiteral("timeouts")).toInt(&ok);
    if (ok && parser.isSet(QStringLiteral("line-settings-index")))
        options.lineSettingsIndex = parser.value(QStringLiteral("line-settings-index")).toInt(&ok);
    options.events = !parser.isSet(QStringLiteral("no-events"));
    return ok && options.replies > 0 && options.timeouts > 0 && options.lineSettingsIndex >= 0
        && options.lineSettingsIndex < kLineSettingsCount;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(app, options)) {
        std::fprintf(stderr, "link_bench: bad option value\n");
        return 2;
    }
    const char *const lineSettings = kLineSettingsTable[options.lineSettingsIndex];

    ScopedConfigHome config;
    config.linkAllPortsToNothing();
    const QString logPath = config.configHome() + QStringLiteral("/sim-traffic.log");
    // V01 stays unanswered; S01 is answered.
    SimProcess sim({QStringLiteral("--log"), logPath, QStringLiteral("--ignore"), QStringLiteral("V01"),
                    QStringLiteral("--line-settings-index"), QString::number(options.lineSettingsIndex)});
    if (!config.isValid() || !sim.start()) {
        std::fprintf(stderr, "link_bench: cannot start %s\n", qPrintable(SimProcess::executablePath()));
        return 1;
    }
    config.linkPort(kPort, sim.slavePath());

    SystemClock clock;
    ModulePort modulePort(clock);
    StampingPort port(modulePort);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    if (options.events)
        frames.setIdleCallback([] { QCoreApplication::processEvents(); });
    if (!port.open(kPort, lineSettings)) {
        std::fprintf(stderr, "link_bench: cannot open the sim's line %s\n", qPrintable(sim.slavePath()));
        return 1;
    }
    TrafficLogFollower log(QFile::encodeName(logPath));
    std::vector<TrafficEvent> skipped;
    const auto isReply = [](const TrafficEvent &e) { return e.kind == TrafficEvent::Kind::Sent; };
    const auto isIgnored = [](const TrafficEvent &e) {
        return e.kind == TrafficEvent::Kind::Note && e.text.startsWith("no answer: ignoring V01");
    };

    for (int i = 0; i < 5; ++i) {
        commands.readSerialNumber();
        waitForEvent(log, skipped, isReply);
    }

    // Answered: the sim stamps the reply when write() of its last byte has returned.
    std::vector<double> latencies;
    int failed = 0;
    for (int i = 0; i < options.replies; ++i) {
        const bool ok = commands.readSerialNumber().ok;
        const double returned = monotonicMs();
        const std::optional<TrafficEvent> reply = waitForEvent(log, skipped, isReply);
        if (!ok || !reply) {
            ++failed;
            continue;
        }
        latencies.push_back(returned - reply->timeMs);
    }

    // Unanswered: from the moment the request's end byte was handed to the port to the command's return.
    // The sim's own note (and the end byte in its log) confirms the request arrived and went unanswered.
    std::vector<double> timeouts;
    std::vector<double> calls;
    double cpu = 0.0;
    double waited = 0.0;
    for (int i = 0; i < options.timeouts; ++i) {
        const double cpuBefore = cpuMs();
        const double called = monotonicMs();
        const bool ok = commands.readFirmwareVersion().ok;
        const double returned = monotonicMs();
        cpu += cpuMs() - cpuBefore;
        std::vector<TrafficEvent> before;
        const std::optional<TrafficEvent> note = waitForEvent(log, before, isIgnored);
        if (ok || !note) {
            ++failed;
            continue;
        }
        timeouts.push_back(returned - port.endByteMs());
        calls.push_back(returned - called);
        waited += returned - port.endByteMs();
    }
    port.close();

    std::printf("Module link over a pseudo-terminal against modulebench-sim, line settings \"%s\"%s.\n", lineSettings,
                options.events ? ", Qt events processed after every empty read as the window does" : "");
    std::printf("Both sides stamp CLOCK_MONOTONIC: the sim in its traffic log, a reply just before the write() of its\n"
                "last byte (so a late sim can only make the figure larger), this program when the command returned.\n\n");
    std::printf("Last reply byte to return, S01 with its 15-byte reply, %zu commands:\n", latencies.size());
    std::printf("  median %.3f ms, 99th percentile %.3f ms (aim: median under 0.5 ms)\n", percentile(latencies, 50),
                percentile(latencies, 99));
    std::printf("  min %.3f ms, 90th percentile %.3f ms, max %.3f ms\n", percentile(latencies, 0),
                percentile(latencies, 90), percentile(latencies, 100));
    std::printf("Unanswered command (V01, ignored by the sim), %zu commands:\n", timeouts.size());
    std::printf("  time-out from handing the request's end byte to the port to return: min %.2f ms, median %.2f ms, "
                "max %.2f ms (aim: 251 to 256 ms)\n",
                percentile(timeouts, 0), percentile(timeouts, 50), percentile(timeouts, 100));
    std::printf("  whole call, request with its write pauses included: median %.2f ms\n", percentile(calls, 50));
    std::printf("CPU time of the unanswered commands (getrusage, user + system, whole calls): %.1f ms over %.0f ms "
                "of waiting = %.2f%% of one core (aim: under 5%%)\n",
                cpu, waited, waited > 0 ? 100.0 * cpu / waited : 0.0);
    if (failed > 0)
        std::printf("%d commands did not go as planned and were left out.\n", failed);
    return failed > 0 ? 1 : 0;
}
