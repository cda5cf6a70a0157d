// Prints how long the console program's search takes in its worst case, with every port searched at the
// same time, beside the least time one port's share of the serial search adds up to (its bound) and beside
// the serial search over the same ports. The worst case: COM1..COM15 silent pseudo-terminals, the module
// on COM16 at 115200,e,8,1 and every line setting tried (--all-line-settings), nothing stored. A
// pseudo-terminal carries no parity, so the module is told to answer only its fourth request at 115200
// baud: it answers the last request the search sends, after 23 unanswered ones, as on a real line.
// Also prints the gaps between one silent port's requests in both runs, as the module heard them: the same
// time-outs. The module stamps a request when it reads its start byte; a module that was not given the
// processor in time reads several bytes at once, later than they came, and that request looks closer to
// the next one than it was sent. Gaps between requests read on time (the start byte alone) are printed
// apart, with how many reads came late.
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
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kPorts = 16;
constexpr int kModulePort = 16;
constexpr int kRequestsPerPort = 2 * kLineSettingsCount;
constexpr double kAim = 1.05;

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
    double cpuMs = 0; // user and system time of the program
    int exitCode = -1;
    QJsonObject record; // the last JSON line
};

// The processor time of the children that have ended, user and system.
double childrenCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

ProgramRun runProgram(const QStringList &arguments)
{
    QProcess program;
    program.setProgram(QStringLiteral(MB_CLI_PATH));
    program.setArguments(arguments);
    program.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    const double cpuBefore = childrenCpuMs();
    timer.start();
    program.start();
    program.waitForFinished(300000);
    ProgramRun run;
    run.ms = double(timer.nsecsElapsed()) / 1.0e6;
    run.cpuMs = childrenCpuMs() - cpuBefore;
    run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    const QList<QByteArray> lines = program.readAllStandardOutput().trimmed().split('\n');
    run.record = QJsonDocument::fromJson(lines.last()).object();
    return run;
}

// The requests a module received, from its traffic log: one per read that brought a start byte, with
// whether that read brought the start byte alone (read on time).
struct RequestRead {
    double timeMs = 0;
    bool onTime = false;
};

std::vector<RequestRead> requestReads(const QString &logFile)
{
    QFile file(logFile);
    std::vector<RequestRead> reads;
    if (!file.open(QIODevice::ReadOnly))
        return reads;
    for (const TrafficEvent &event : parseTrafficLog(file.readAll())) {
        if (event.kind == TrafficEvent::Kind::Received && event.bytes.startsWith('\x0F'))
            reads.push_back({event.timeMs, event.bytes.size() == 1});
    }
    return reads;
}

void printGaps(const char *what, const std::vector<RequestRead> &reads)
{
    std::vector<double> gaps;
    std::vector<double> onTimeGaps;
    for (size_t i = 1; i < reads.size(); ++i) {
        gaps.push_back(reads[i].timeMs - reads[i - 1].timeMs);
        if (reads[i].onTime && reads[i - 1].onTime)
            onTimeGaps.push_back(gaps.back());
    }
    if (gaps.empty())
        return;
    const auto late = std::count_if(reads.begin(), reads.end(), [](const RequestRead &read) { return !read.onTime; });
    const auto [low, high] = std::minmax_element(gaps.begin(), gaps.end());
    std::printf("    %-30s %2zu requests, gap between two: min %.2f  median %.2f  max %.2f ms\n", what,
                reads.size(), *low, median(gaps), *high);
    if (!onTimeGaps.empty())
        std::printf("    %-30s %2zu read late; between two read on time: min %.2f ms\n", "", size_t(late),
                    *std::min_element(onTimeGaps.begin(), onTimeGaps.end()));
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
    // The answer is the first port in list order that answers, so COM16's is known only once COM1..COM15
    // have had their last request's time-out too.
    const double listOrder = bound + kTimeoutMs - wireMs(kSerialReply);
    std::printf("    %-72s %9.2f  (%.3f x)\n", "the same after COM1..COM15's last time-out (the list order's answer)",
                listOrder, listOrder / bound);
    // COM16 opens for its information read and makes the first pause while COM1..COM15 wait out their last
    // requests.
    const double overlapped = listOrder - std::min<double>(kPauseMs, kTimeoutMs - wireMs(kSerialReply));
    std::printf("    %-72s %9.2f  (%.3f x)\n", "less the first pause, made while they end", overlapped,
                overlapped / bound);

    std::vector<double> parallelMs;
    std::vector<double> parallelCpuMs;
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
        parallelCpuMs.push_back(result.cpuMs);
        const bool right = result.exitCode == 0 && result.record.value(QStringLiteral("port")).toString() == "COM16"
                           && result.record.value(QStringLiteral("line_settings")).toString() == "115200,e,8,1";
        wrong += right ? 0 : 1;
        if (run == 0)
            printGaps("COM1 (silent), parallel:", requestReads(silent->logFile()));
    }
    const auto [low, high] = std::minmax_element(parallelMs.begin(), parallelMs.end());
    const double typical = median(parallelMs);
    std::printf("  scan --parallel, measured over %zu runs: min %.2f  median %.2f  max %.2f\n", parallelMs.size(), *low,
                typical, *high);
    std::printf("    ratio to one port's bound: median %.3f  worst %.3f  (%s %.2f)\n", typical / bound, *high / bound,
                *high / bound <= kAim ? "within" : "OVER", kAim);
    std::printf("    processor time of the program (user and system): median %.0f ms\n", median(parallelCpuMs));
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
        std::printf("  scan (one port after the other), 1 run: %.2f, %.1f x the parallel median, processor time %.0f ms%s\n",
                    serial.ms, serial.ms / typical, serial.cpuMs, right ? "" : "  WRONG OUTCOME");
        printGaps("COM1 (silent), serial:", requestReads(silent->logFile()));
    }
    if (load.isOpen() && load.seek(0))
        std::printf("Load average at the end: %s\n", load.readLine().trimmed().constData());
    return wrong == 0 ? 0 : 1;
}
