// Prints how long the console program's search takes in its worst case, with every port searched at the
// same time, beside the least time one port's share of the serial search adds up to (its bound) and beside
// the serial search over the same ports. The worst case: COM1..COM15 silent pseudo-terminals, the module
// on COM16 at 115200,e,8,1 and every line setting tried (--all-line-settings), nothing stored. A
// pseudo-terminal carries no parity, so the module is told to answer only its fourth request at 115200
// baud: it answers the last request the search sends, after 23 unanswered ones, as on a real line.
// Also prints the gaps between one silent port's requests in both runs: the same time-outs.
#include "line_settings.h"
#include "traffic_log_reader.h"
#include "window_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kPorts = 16;
constexpr int kModulePort = 16;
constexpr int kRequestsPerPort = 2 * kLineSettingsCount;
constexpr double kAim = 1.10;

constexpr double kPauseMs = 200;
constexpr double kWritePausesMs = 4 * 1 + 5; // four single bytes and one block per request
constexpr double kTimeoutMs = 251;            // the first empty read after more than 250 ms
constexpr double kToneMs = 300;
constexpr int kBitsPerByte = 1 + 8 + 1 + 1; // 115200,e,8,1
constexpr double kBaud = 115200;
constexpr int kSerialReply = 15;
constexpr int kVersionReply = 15;
constexpr int kCustomerReply = 37;

double wireMs(int bytes)
{
    return bytes * kBitsPerByte * 1000.0 / kBaud;
}

// One port's share of the search, then the information read and the tone: what the parallel search
// cannot go below.
double onePortBound(bool print)
{
    const std::vector<std::pair<const char *, double>> terms{
        {"COM16: 23 unanswered S01 x (9 ms write pauses + 251 ms)", (kRequestsPerPort - 1) * (kWritePausesMs + kTimeoutMs)},
        {"COM16: the answered S01, 9 ms write pauses + reply wire time", kWritePausesMs + wireMs(kSerialReply)},
        {"information read: 2 pauses x 200 ms", 2 * kPauseMs},
        {"information read: V01, G06: 2 x 9 ms write pauses + reply wire time",
         2 * kWritePausesMs + wireMs(kVersionReply + kCustomerReply)},
        {"tone", kToneMs},
    };
    double sum = 0;
    for (const auto &term : terms) {
        sum += term.second;
        if (print)
            std::printf("    %-72s %9.2f\n", term.first, term.second);
    }
    if (print)
        std::printf("    %-72s %9.2f\n", "bound", sum);
    return sum;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct ProgramRun {
    double ms = 0;
    int exitCode = -1;
    QJsonObject record; // the last JSON line
};

ProgramRun runProgram(const QStringList &arguments)
{
    QProcess program;
    program.setProgram(QStringLiteral(MB_CLI_PATH));
    program.setArguments(arguments);
    program.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    program.start();
    program.waitForFinished(300000);
    ProgramRun run;
    run.ms = double(timer.nsecsElapsed()) / 1.0e6;
    run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    const QList<QByteArray> lines = program.readAllStandardOutput().trimmed().split('\n');
    run.record = QJsonDocument::fromJson(lines.last()).object();
    return run;
}

// The times of the requests a module received, from its traffic log: one per read that brought a start byte.
std::vector<double> requestTimes(const QString &logFile)
{
    QFile file(logFile);
    std::vector<double> times;
    if (!file.open(QIODevice::ReadOnly))
        return times;
    for (const TrafficEvent &event : parseTrafficLog(file.readAll())) {
        if (event.kind == TrafficEvent::Kind::Received && event.bytes.startsWith('\x0F'))
            times.push_back(event.timeMs);
    }
    return times;
}

void printGaps(const char *what, const std::vector<double> &times)
{
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i)
        gaps.push_back(times[i] - times[i - 1]);
    if (gaps.empty())
        return;
    const auto [low, high] = std::minmax_element(gaps.begin(), gaps.end());
    std::printf("    %-30s %2zu requests, gap between two: min %.2f  median %.2f  max %.2f ms\n", what,
                times.size(), *low, median(gaps), *high);
}

bool fail(const QString &why)
{
    std::fprintf(stderr, "bench_parallel_search: %s\n", qPrintable(why));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const bool serialToo = !(argc > 2 && QByteArray(argv[2]) == "--no-serial");

    WindowRig rig; // modules on pseudo-terminals in a private settings folder; no window is shown
    if (!rig.isValid())
        return fail(QStringLiteral("no private settings folder")) ? 0 : 1;
    for (int com = 1; com < kModulePort; ++com) {
        if (!rig.addModule(com, {QStringLiteral("--silent")}))
            return fail(rig.lastError()) ? 0 : 1;
    }
    const QStringList moduleOptions{QStringLiteral("--line-settings-index"), QStringLiteral("11"),
                                    QStringLiteral("--answer-from"), QStringLiteral("4")};

    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("Load average at the start: %s\n", load.readLine().trimmed().constData());
    std::printf("\nWorst case of the search: COM1..COM15 silent, the module on COM16 answering only the last request\n"
                "at 115200,e,8,1, --all-line-settings, nothing stored; the whole run of modulebench-cli, ms\n");
    std::printf("One port's bound:\n");
    const double bound = onePortBound(true);

    std::vector<double> parallelMs;
    int wrong = 0;
    std::vector<double> parallelGaps;
    for (int run = 0; run < runs; ++run) {
        // A fresh module each time: it counts the requests it has heard.
        rig.unplug(kModulePort);
        SimProcess *module = rig.addModule(kModulePort, moduleOptions);
        rig.unplug(1);
        SimProcess *silent = rig.addModule(1, {QStringLiteral("--silent")});
        if (!module || !silent)
            return fail(rig.lastError()) ? 0 : 1;
        QFile::remove(rig.settingsFile());
        const ProgramRun result = runProgram({QStringLiteral("scan"), QStringLiteral("--parallel"),
                                              QStringLiteral("--all-line-settings"), QStringLiteral("--json")});
        parallelMs.push_back(result.ms);
        const bool right = result.exitCode == 0 && result.record.value(QStringLiteral("port")).toString() == "COM16"
                           && result.record.value(QStringLiteral("line_settings")).toString() == "115200,e,8,1";
        wrong += right ? 0 : 1;
        if (run == 0)
            printGaps("COM1 (silent), parallel:", requestTimes(silent->logFile()));
    }
    const auto [low, high] = std::minmax_element(parallelMs.begin(), parallelMs.end());
    const double typical = median(parallelMs);
    std::printf("  scan --parallel, measured over %zu runs: min %.2f  median %.2f  max %.2f\n", parallelMs.size(), *low,
                typical, *high);
    std::printf("    ratio to one port's bound: median %.3f  worst %.3f  (%s %.2f)\n", typical / bound, *high / bound,
                *high / bound <= kAim ? "within" : "OVER", kAim);
    if (wrong > 0)
        std::printf("    WRONG OUTCOME in %d runs\n", wrong);

    if (serialToo) {
        rig.unplug(kModulePort);
        SimProcess *module = rig.addModule(kModulePort, moduleOptions);
        rig.unplug(1);
        SimProcess *silent = rig.addModule(1, {QStringLiteral("--silent")});
        if (!module || !silent)
            return fail(rig.lastError()) ? 0 : 1;
        QFile::remove(rig.settingsFile());
        const ProgramRun serial =
            runProgram({QStringLiteral("scan"), QStringLiteral("--all-line-settings"), QStringLiteral("--json")});
        const bool right = serial.exitCode == 0 && serial.record.value(QStringLiteral("port")).toString() == "COM16";
        std::printf("  scan (one port after the other), 1 run: %.2f, %.1f x the parallel median%s\n", serial.ms,
                    serial.ms / typical, right ? "" : "  WRONG OUTCOME");
        printGaps("COM1 (silent), serial:", requestTimes(silent->logFile()));
    }
    if (load.isOpen() && load.seek(0))
        std::printf("Load average at the end: %s\n", load.readLine().trimmed().constData());
    return wrong == 0 ? 0 : 1;
}
