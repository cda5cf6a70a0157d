// Prints how long the scan, the baud-rate change and the clearing take against modulebench-sim,
// each beside the least time its fixed costs add up to: the 200 ms pauses, the 9 ms of write pauses
// per request, the 250 ms reply time-outs, the reply's time on the wire and the 300 ms tone.
// Runs the real window offscreen with the real port on pseudo-terminals, in a private settings folder.
// The console program's scan is timed beside the same bounds, in the process and as a whole program run.
#include "cli_options.h"
#include "console_output.h"
#include "console_tool.h"
#include "line_settings.h"
#include "module_window.h"
#include "window_rig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kPauseMs = 200;
constexpr double kWritePausesMs = 4 * 1 + 5; // four single bytes and one block per request
// The wait ends at the first empty read after more than 250 ms on the millisecond counter.
constexpr double kTimeoutMs = 251;
constexpr double kToneMs = 300;
constexpr double kAim = 1.05;

// Reply frames: 0x0F, the reply text, two check digits, 0x0D.
constexpr int kSerialReply = 1 + 3 + 8 + 3;
constexpr int kVersionReply = 1 + 3 + 8 + 3;
constexpr int kCustomerReply = 1 + 3 + 30 + 3;
constexpr int kBaudRateReply = 1 + 4 + 3;
constexpr int kClearReply = 1 + 3 + 3;

const char *const kModuleFound = "Get Module Info Ok. (COM : #%1)";

// Start bit, data bits, parity bit if any, stop bit.
int bitsPerByte(const LineSettings &line)
{
    return 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
}

class Bound {
public:
    void add(const QString &what, double ms) { m_terms.push_back({what, ms}); }
    void addWire(int bytes, const char *lineSettings)
    {
        const LineSettings line = parseLineSettings(lineSettings).value_or(LineSettings{});
        const int bits = bitsPerByte(line);
        add(QStringLiteral("reply wire time, %1 bytes x %2 bits at %3 baud").arg(bytes).arg(bits).arg(line.baudRate),
            bytes * bits * 1000.0 / line.baudRate);
    }
    double total() const
    {
        double sum = 0;
        for (const auto &term : m_terms)
            sum += term.second;
        return sum;
    }
    void print() const
    {
        for (const auto &term : m_terms)
            std::printf("    %-62s %9.2f\n", qPrintable(term.first), term.second);
        std::printf("    %-62s %9.2f\n", "bound", total());
    }

private:
    std::vector<std::pair<QString, double>> m_terms;
};

struct Figures {
    std::vector<double> ms;
    std::vector<double> ratios;
    int wrongOutcomes = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printFigures(const Figures &figures, const Bound &bound)
{
    bound.print();
    if (figures.ms.empty())
        return;
    const auto [low, high] = std::minmax_element(figures.ms.begin(), figures.ms.end());
    const double worst = *std::max_element(figures.ratios.begin(), figures.ratios.end());
    const double typical = median(figures.ratios);
    std::printf("    measured over %zu runs: min %.2f  median %.2f  max %.2f\n", figures.ms.size(), *low,
                median(figures.ms), *high);
    std::printf("    ratio to the bound: median %.3f  worst %.3f  (%s %.2f)\n", typical, worst,
                worst <= kAim ? "within" : "OVER", kAim);
    if (figures.wrongOutcomes > 0)
        std::printf("    WRONG OUTCOME in %d runs\n", figures.wrongOutcomes);
    std::printf("\n");
}

// Presses the button and times its handler, which returns when the operation has ended.
double timedPress(WindowRig &rig, const char *button)
{
    auto *target = rig.window().findChild<QPushButton *>(QLatin1String(button));
    QElapsedTimer timer;
    timer.start();
    target->click();
    return double(timer.nsecsElapsed()) / 1.0e6;
}

void record(Figures &figures, double ms, double bound, bool rightOutcome)
{
    figures.ms.push_back(ms);
    figures.ratios.push_back(ms / bound);
    figures.wrongOutcomes += rightOutcome ? 0 : 1;
}

bool fail(const QString &why)
{
    std::fprintf(stderr, "bench_operations: %s\n", qPrintable(why));
    return false;
}

// Information read after the module answered: pause, version, pause, customer register.
void addInformationRead(Bound &bound, const char *line)
{
    bound.add(QStringLiteral("2 pauses x 200 ms"), 2 * kPauseMs);
    bound.add(QStringLiteral("V01, G06: 2 requests x 9 ms write pauses"), 2 * kWritePausesMs);
    bound.addWire(kVersionReply + kCustomerReply, line);
}

bool benchQuickScanClearAndBaudRate(int runs)
{
    WindowRig rig;
    if (!rig.isValid() || !rig.addModule(1))
        return fail(QStringLiteral("no virtual module: ") + rig.lastError());
    if (!rig.start())
        return fail(QStringLiteral("the window did not show"));
    rig.click(QStringLiteral("btnScan")); // the first scan searches and stores COM1
    if (rig.text(QStringLiteral("pnMsg")) != QString::fromLatin1(kModuleFound).arg(1))
        return fail(QStringLiteral("the module on COM1 was not found"));

    {
        const char *line = "19200,e,8,1";
        Bound bound;
        bound.add(QStringLiteral("S01: 1 request x 9 ms write pauses"), kWritePausesMs);
        bound.addWire(kSerialReply, line);
        addInformationRead(bound, line);
        bound.add(QStringLiteral("tone"), kToneMs);
        Figures figures;
        for (int run = 0; run < runs; ++run) {
            const double ms = timedPress(rig, "btnScan");
            record(figures, ms, bound.total(),
                   rig.text(QStringLiteral("pnMsg")) == QString::fromLatin1(kModuleFound).arg(1));
        }
        std::printf("Scan found by the quick attempt (COM1, %s), ms\n", line);
        printFigures(figures, bound);
    }

    {
        const char *line = "19200,e,8,1";
        Bound bound;
        bound.add(QStringLiteral("2 pauses x 200 ms"), 2 * kPauseMs);
        bound.add(QStringLiteral("S01, F06: 2 requests x 9 ms write pauses"), 2 * kWritePausesMs);
        bound.addWire(kSerialReply + kClearReply, line);
        bound.add(QStringLiteral("tone"), kToneMs);
        Figures figures;
        for (int run = 0; run < runs; ++run) {
            const double ms = timedPress(rig, "btnClear");
            record(figures, ms, bound.total(), rig.text(QStringLiteral("pnMsg")) == QLatin1String("Clear Customer Register Ok"));
        }
        std::printf("Clearing the customer register (COM1, %s), ms\n", line);
        printFigures(figures, bound);
    }

    {
        // Back and forth between two settings; the replies come at the setting the change starts from.
        const int indices[2] = {6, 5};
        Bound bounds[2];
        for (int k = 0; k < 2; ++k) {
            const char *from = kLineSettingsTable[indices[1 - k]];
            bounds[k].add(QStringLiteral("2 pauses x 200 ms"), 2 * kPauseMs);
            bounds[k].add(QStringLiteral("S01, E01x: 2 requests x 9 ms write pauses"), 2 * kWritePausesMs);
            bounds[k].addWire(kSerialReply + kBaudRateReply, from);
            bounds[k].add(QStringLiteral("tone"), kToneMs);
        }
        Figures figures[2];
        for (int run = 0; run < 2 * ((runs + 1) / 2); ++run) {
            const int k = run % 2;
            rig.chooseListIndex(indices[k]);
            const double ms = timedPress(rig, "btnBaudRate");
            record(figures[k], ms, bounds[k].total(),
                   rig.text(QStringLiteral("pnMsg")) == QLatin1String("Set Module BaudRate Ok") && rig.listIndex() == indices[k]);
        }
        for (int k = 0; k < 2; ++k) {
            std::printf("Baud-rate change %s -> %s (COM1), ms\n", kLineSettingsTable[indices[1 - k]],
                        kLineSettingsTable[indices[k]]);
            printFigures(figures[k], bounds[k]);
        }
    }
    return true;
}

bool benchLockedSearch(int runs)
{
    constexpr int kSilentPorts = 15;
    WindowRig rig;
    if (!rig.isValid())
        return fail(QStringLiteral("no private settings folder"));
    for (int com = 1; com <= kSilentPorts; ++com) {
        if (!rig.addModule(com, {QStringLiteral("--silent")}))
            return fail(rig.lastError());
    }
    if (!rig.addModule(16))
        return fail(rig.lastError());

    const char *line = "19200,e,8,1";
    Bound bound;
    bound.add(QStringLiteral("COM1..COM15: 30 unanswered S01 x (9 ms write pauses + 251 ms)"),
              kSilentPorts * 2 * (kWritePausesMs + kTimeoutMs));
    bound.add(QStringLiteral("COM16: S01, 1 request x 9 ms write pauses"), kWritePausesMs);
    bound.addWire(kSerialReply, line);
    addInformationRead(bound, line);
    bound.add(QStringLiteral("tone"), kToneMs);

    Figures figures;
    for (int run = 0; run < runs; ++run) {
        // Each run is a first run: nothing stored, so no quick attempt, and the lock box checked.
        rig.stop();
        QFile::remove(rig.settingsFile());
        if (!rig.start() || !rig.lockChecked())
            return fail(QStringLiteral("the window did not show as at a first start"));
        const double ms = timedPress(rig, "btnScan");
        record(figures, ms, bound.total(),
               rig.text(QStringLiteral("pnMsg")) == QString::fromLatin1(kModuleFound).arg(16)
                   && rig.storedValues().value(QStringLiteral("ScanCommNo")) == QLatin1String("16"));
    }
    std::printf("Search with the lock box checked over COM1..COM16, module only on COM16 (%s), ms\n", line);
    printFigures(figures, bound);
    return true;
}

// A whole run of the console program, from its start to its end.
double timedProgram(const QStringList &arguments, int &exitCode)
{
    QProcess program;
    program.setProgram(QStringLiteral(MB_CLI_PATH));
    program.setArguments(arguments);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    program.start();
    program.waitForFinished(60000);
    const double ms = double(timer.nsecsElapsed()) / 1.0e6;
    exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    return ms;
}

void printProgramFigures(const std::vector<double> &ms, double operationMedian)
{
    if (ms.empty())
        return;
    const auto [low, high] = std::minmax_element(ms.begin(), ms.end());
    std::printf("    measured over %zu runs: min %.2f  median %.2f  max %.2f\n", ms.size(), *low, median(ms), *high);
    std::printf("    start-up, settings and exit beyond the operation: median %.2f\n\n", median(ms) - operationMedian);
}

bool benchConsoleScan(int runs, int searchRuns)
{
    {
        WindowRig rig; // its modules and private settings folder; no window is shown
        if (!rig.isValid() || !rig.addModule(1))
            return fail(QStringLiteral("no virtual module: ") + rig.lastError());
        ConsoleOutput quiet(false, false);
        StopToken stop;
        ConsoleTool tool(ToolSetup{}, quiet, stop);
        if (!tool.scan().complete()) // searches and stores COM1
            return fail(QStringLiteral("the console program did not find the module on COM1"));

        const char *line = "19200,e,8,1";
        Bound bound;
        bound.add(QStringLiteral("S01: 1 request x 9 ms write pauses"), kWritePausesMs);
        bound.addWire(kSerialReply, line);
        addInformationRead(bound, line);
        bound.add(QStringLiteral("tone"), kToneMs);
        Figures figures;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const ScanResult scan = tool.scan();
            record(figures, double(timer.nsecsElapsed()) / 1.0e6, bound.total(), scan.complete() && scan.place.portNumber == 1);
        }
        std::printf("Console program: scan found by the quick attempt (COM1, %s), the operation in process, ms\n", line);
        printFigures(figures, bound);

        std::vector<double> program;
        int wrong = 0;
        for (int run = 0; run < runs; ++run) {
            int exitCode = -1;
            program.push_back(timedProgram({QStringLiteral("scan")}, exitCode));
            wrong += exitCode == 0 ? 0 : 1;
        }
        std::printf("Console program: the whole run of 'modulebench-cli scan' (same module, same bound %.2f), ms\n",
                    bound.total());
        printProgramFigures(program, median(figures.ms));
        if (wrong > 0)
            std::printf("    WRONG EXIT STATUS in %d runs\n\n", wrong);
    }

    constexpr int kSilentPorts = 15;
    WindowRig rig;
    for (int com = 1; com <= kSilentPorts; ++com) {
        if (!rig.addModule(com, {QStringLiteral("--silent")}))
            return fail(rig.lastError());
    }
    if (!rig.addModule(16))
        return fail(rig.lastError());
    const char *line = "19200,e,8,1";
    Bound bound;
    bound.add(QStringLiteral("COM1..COM15: 30 unanswered S01 x (9 ms write pauses + 251 ms)"),
              kSilentPorts * 2 * (kWritePausesMs + kTimeoutMs));
    bound.add(QStringLiteral("COM16: S01, 1 request x 9 ms write pauses"), kWritePausesMs);
    bound.addWire(kSerialReply, line);
    addInformationRead(bound, line);
    bound.add(QStringLiteral("tone"), kToneMs);
    Figures figures;
    for (int run = 0; run < searchRuns; ++run) {
        QFile::remove(rig.settingsFile());
        ConsoleOutput quiet(false, false);
        StopToken stop;
        ConsoleTool tool(ToolSetup{}, quiet, stop);
        QElapsedTimer timer;
        timer.start();
        const ScanResult scan = tool.scan();
        record(figures, double(timer.nsecsElapsed()) / 1.0e6, bound.total(), scan.complete() && scan.place.portNumber == 16);
    }
    std::printf("Console program: search with the lock (the default) over COM1..COM16, module only on COM16 (%s), ms\n",
                line);
    printFigures(figures, bound);
    return true;
}

// 'ports' looks at 16 ports, each with a device; '--version' is the program's start and exit alone.
bool benchPorts(int runs)
{
    constexpr double kPortsAimMs = 100;
    WindowRig rig;
    for (int com = 1; com <= 16; ++com) {
        if (!rig.addModule(com))
            return fail(rig.lastError());
    }
    std::vector<double> ports;
    std::vector<double> startUp;
    int wrong = 0;
    for (int run = 0; run < std::max(runs, 5); ++run) {
        int exitCode = -1;
        ports.push_back(timedProgram({QStringLiteral("ports")}, exitCode));
        wrong += exitCode == 0 ? 0 : 1;
        startUp.push_back(timedProgram({QStringLiteral("--version")}, exitCode));
    }
    const auto [low, high] = std::minmax_element(ports.begin(), ports.end());
    std::printf("Console program: 'modulebench-cli ports' over COM1..COM16, a device on each, whole run, ms\n");
    std::printf("    measured over %zu runs: min %.2f  median %.2f  max %.2f  (%s %.0f)\n", ports.size(), *low,
                median(ports), *high, median(ports) <= kPortsAimMs ? "within" : "OVER", kPortsAimMs);
    std::printf("    of which the program's start and exit ('--version'): median %.2f\n\n", median(startUp));
    if (wrong > 0)
        std::printf("    WRONG EXIT STATUS in %d runs\n\n", wrong);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int runs = 10;
    int searchRuns = 3;
    if (argc > 1) {
        runs = std::max(1, std::atoi(argv[1]));
        searchRuns = std::max(1, (runs + 2) / 3);
    }
    std::printf("Durations of the operations against modulebench-sim on pseudo-terminals (real window offscreen).\n"
                "A bound is the least time the fixed costs add up to; the request's own wire time is not in it,\n"
                "since a pseudo-terminal carries the request at once. Aim: at most %.2f x the bound.\n",
                kAim);
    // Other work on the machine shows up in the figures; say how busy it was.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("Load average at the start: %s\n", load.readLine().trimmed().constData());
    std::printf("\n");
    const bool ok = benchQuickScanClearAndBaudRate(runs) && benchLockedSearch(searchRuns)
                    && benchConsoleScan(runs, searchRuns) && benchPorts(runs);
    if (load.isOpen() && load.seek(0))
        std::printf("Load average at the end: %s\n", load.readLine().trimmed().constData());
    return ok ? 0 : 1;
}
