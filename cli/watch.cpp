// The production line: one fixture per port given with --port (or one fixture searching COM1 to COM16),
// each served by a thread of its own, so a slow or failing fixture holds no other up. All fixtures write
// to one CSV file and one output stream; each record names its port.
#include "watch.h"

#include "console_output.h"
#include "cli_commands.h"
#include "console_tool.h"
#include "csv_log.h"
#include "final_object.h"
#include "line_settings.h"
#include "module_report.h"
#include "module_text.h"
#include "port_names.h"
#include "outcomes.h"
#include "run_records.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QSysInfo>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Between two looks at an empty fixture, and at a module that is still connected.
constexpr int kWatchPauseMs = 300;
constexpr int kStopCheckMs = 20;
// A module has gone when its port has given not one frame at every look for this long.
constexpr int kGoneAfterMs = 1000;

// What all fixtures share: the record file, the output, the count and the tally.
struct ProductionLine {
    const CliOptions &options;
    ConsoleOutput &output;
    StopToken &stop;
    CsvLog csv;
    std::unique_ptr<RecordKeeper> records; // --db
    QString station;
    QMutex mutex;
    int modules = 0; // modules taken in hand, counted against --count
    std::map<Outcome, int> outcomes;
    std::optional<Outcome> firstFailure; // the outcome of the first module that failed
    bool recordFailed = false;
    std::atomic<bool> done{false};

    ProductionLine(const CliOptions &o, ConsoleOutput &out, StopToken &s) : options(o), output(out), stop(s) {}

    bool stopping() const { return done || stop.requested(); }

    // A module may be taken in hand unless --count has been reached.
    bool takeModule()
    {
        QMutexLocker lock(&mutex);
        if (options.count > 0 && modules >= options.count)
            return false;
        ++modules;
        return true;
    }

    void tally(Outcome outcome)
    {
        QMutexLocker lock(&mutex);
        ++outcomes[outcome];
        if (!isSuccess(outcome) && !firstFailure)
            firstFailure = outcome;
        if (options.count > 0 && modules >= options.count)
            done = true;
    }
};

// One fixture: a port (or the whole search) and the module in it.
struct Fixture {
    QList<int> ports; // empty: COM1 to COM16
    // The module in hand, for the message at Ctrl-C; empty between modules.
    QMutex mutex;
    QString moduleInHand;
    QString portInHand;

    QString label() const { return ports.size() == 1 ? portName(ports.first()) : QString(); }
};

// Sleeps in short steps; false when the line is stopping.
bool pauseUnlessStopping(const ProductionLine &line, int ms)
{
    for (int waited = 0; waited < ms && !line.stopping(); waited += kStopCheckMs)
        QThread::msleep(kStopCheckMs);
    return !line.stopping();
}

// What the fixture did with the module: its fate, from the scan's outcome to the last change made.
ModuleFate handleModule(ProductionLine &line, ConsoleTool &tool, const CliOptions &options, const ScanResult &scan,
                        bool alreadySet)
{
    ModuleFate module;
    module.outcome = tool.outcomeOf(scan);
    module.message = scan.message;
    if (module.outcome != Outcome::Ok)
        return module;
    // Another module than the one the line is set up for is read and recorded, never changed.
    if (!options.expectedSerial.isEmpty() && scan.serialNumber != options.expectedSerial) {
        module.outcome = Outcome::WrongModule;
        return module;
    }
    // A module the line has set up before (here or at another station) is read and recorded, never changed.
    if (options.oncePerModule) {
        const std::optional<bool> before = line.records->succeededBefore(QString::fromLatin1(scan.serialNumber));
        if (before.value_or(false)) {
            module.outcome = Outcome::SeenBefore;
            return module;
        }
        // A line that must never change a module twice changes none whose history could not be had.
        if (!before && options.oncePerModuleStrict) {
            module.outcome = Outcome::HistoryUnknown;
            return module;
        }
    }
    if (options.clear) {
        const ChangeReport cleared = tool.clearCustomerRegister();
        module.message = cleared.message;
        module.outcome = cleared.outcome;
        module.cleared = true;
        module.readBack = cleared.customerRegister;
        if (!isSuccess(cleared.outcome))
            return module;
    }
    if (alreadySet) {
        module.outcome = Outcome::AlreadySet;
    } else if (options.baudRateIndex >= 0) {
        // Nothing is stored per module: the line's next module comes at the setting the store names.
        const ChangeReport moved = tool.changeBaudRate(options.baudRateIndex, false);
        module.message = moved.message;
        module.leftAt = moved.place;
        module.outcome = moved.outcome;
    }
    return module;
}

// The module's record to the file, the database and the output; false when the file or the database could
// not take it.
bool recordModule(ProductionLine &line, const ConsoleTool &tool, const ModuleReport &report)
{
    const ModuleRecord &record = report.record;
    bool written = true;
    if (line.csv.isOpen()) {
        QString error;
        written = line.csv.append(record, error);
        if (!written) {
            line.output.diagnostic(QStringLiteral("%1: the record of module %2 could not be written (%3); stopping")
                                       .arg(line.options.csvFile, printable(record.serialNumber), error));
        }
    }
    QJsonObject object = moduleJson(report, true);
    if (line.records
        && !keepModuleRecord(*line.records, record, line.output, object, QStringLiteral("; stopping")))
        written = false;
    object.insert(QStringLiteral("recorded"), written);
    // With the records on standard output (--csv -), the text lines would only get in their way.
    const bool csvOnStdout = line.csv.isOpen() && line.options.csvFile == QLatin1String("-");
    line.output.result(object, csvOnStdout ? QStringList{} : QStringList{moduleLine(report, tool)});
    return written;
}

// Waits until the module has gone: another module's serial number at its place, or not one frame from its
// port (silence, or the device gone) at every look for a second. A late, damaged or noisy reply is someone
// there; a port another program holds for a moment tells nothing.
void waitUntilGone(ProductionLine &line, ConsoleTool &tool, const ScanResult &scan, const Place &place)
{
    line.output.progress(QStringLiteral("waiting until module %1 has gone from %2")
                             .arg(printable(scan.serialNumber), portName(place.portNumber)));
    QElapsedTimer silent;
    while (pauseUnlessStopping(line, kWatchPauseMs)) {
        switch (tool.lookAgain(place, scan.serialNumber)) {
        case LookResult::OtherModule:
            return;
        case LookResult::Silent:
        case LookResult::DeviceGone:
            if (!silent.isValid())
                silent.start();
            else if (silent.elapsed() >= kGoneAfterMs)
                return;
            break;
        case LookResult::SameModule:
        case LookResult::SomethingCame:
            silent.invalidate();
            break;
        case LookResult::PortUnavailable:
            break;
        }
    }
}

void serveFixture(ProductionLine &line, Fixture &fixture)
{
    CliOptions options = line.options;
    options.ports = fixture.ports;
    ConsoleTool tool(toolSetup(options), line.output, line.stop);
    // Several fixtures must not take turns at the one stored place: watch --port stores nothing.
    const bool store = line.options.ports.isEmpty() && !line.options.noStore;
    tool.setStoreFound(store);
    const int target = options.baudRateIndex;
    const QString where = fixture.label().isEmpty() ? QString() : fixture.label() + QStringLiteral(": ");
    bool noPortSaid = false;

    line.output.progress(where + QStringLiteral("waiting for a module (Ctrl-C ends)"));
    while (!line.stopping()) {
        QElapsedTimer took;
        took.start();
        ScanResult scan = tool.scan(true);
        // A module already at the line settings it is to be moved to (reworked, plugged in again) is looked
        // for there too, without storing the place.
        if (!scan.found() && target >= 0 && QByteArray(kLineSettingsTable[target]) != tool.settings().lineSettings()
            && !line.stopping()) {
            tool.useLineSettings(target);
            tool.setStoreFound(false);
            scan = tool.scan(true);
            tool.setStoreFound(store);
            if (!scan.found())
                tool.startNextModule();
        }
        if (line.stopping())
            break; // nothing was changed: the module, if any, stays as it is
        if (!scan.found()) {
            const Outcome outcome = tool.outcomeOf(scan);
            // Said once: an adapter that goes with each module leaves its port without a device between two.
            if (outcome == Outcome::NoPort && !noPortSaid) {
                sayWhatEachPortDid(scan, outcome, tool.language(), line.output, where);
                noPortSaid = true;
            }
            pauseUnlessStopping(line, kWatchPauseMs);
            continue;
        }
        if (!line.takeModule())
            break;
        {
            QMutexLocker lock(&fixture.mutex);
            fixture.moduleInHand = printable(scan.serialNumber);
            fixture.portInHand = portName(scan.place.portNumber);
        }
        const bool alreadySet = target >= 0 && scan.place.lineSettings == QByteArray(kLineSettingsTable[target]);
        const QDateTime when = QDateTime::currentDateTime();
        ModuleFate fate = handleModule(line, tool, options, scan, alreadySet);
        fate.station = line.station;
        fate.when = when;
        fate.durationMs = took.elapsed();
        const ModuleReport report = moduleReport(scan, fate);
        const bool written = recordModule(line, tool, report);
        {
            QMutexLocker lock(&fixture.mutex);
            fixture.moduleInHand.clear();
        }
        line.tally(report.outcome);
        if (!written) {
            QMutexLocker lock(&line.mutex);
            line.recordFailed = true;
            line.done = true;
            break;
        }
        waitUntilGone(line, tool, scan, fate.leftAt.value_or(scan.place));
        if (line.stopping())
            break;
        // The next module starts where the store says, not where a baud-rate change left this one.
        tool.startNextModule();
        line.output.progress(where + QStringLiteral("waiting for a module (Ctrl-C ends)"));
    }
}

QString summaryText(const ProductionLine &line)
{
    QStringList parts;
    int total = 0;
    for (const auto &[outcome, count] : line.outcomes) {
        parts << QStringLiteral("%1 %2").arg(count).arg(outcomeKey(outcome));
        total += count;
    }
    return QStringLiteral("%1 module%2%3").arg(total).arg(total == 1 ? QString() : QStringLiteral("s"))
        .arg(parts.isEmpty() ? QString() : QStringLiteral(": ") + parts.join(QStringLiteral(", ")));
}

} // namespace

int runWatch(const CliOptions &options, ConsoleOutput &output, StopToken &stop)
{
    ProductionLine line(options, output, stop);
    line.station = options.station.isEmpty() ? QSysInfo::machineHostName() : options.station;
    if (!options.csvFile.isEmpty()) {
        QString error;
        if (!line.csv.open(options.csvFile, options.csvFileBytes, error)) {
            const QString message = QStringLiteral("--csv %1: %2").arg(options.csvFile, error);
            output.diagnostic(message);
            if (output.json())
                output.result(finalObject(CliCommand::Watch, Outcome::Failure, message), {});
            return exitStatusOf(Outcome::Failure);
        }
    }
    if (options.db) {
        line.records = std::make_unique<RecordKeeper>([&output](const QString &text) { output.diagnostic(text); });
        QString message;
        if (const std::optional<Outcome> failed = openRecords(options, output, *line.records, message)) {
            if (output.json())
                output.result(finalObject(CliCommand::Watch, *failed, message), {});
            return exitStatusOf(*failed);
        }
    }

    std::vector<std::unique_ptr<Fixture>> fixtures;
    if (options.ports.isEmpty()) {
        fixtures.push_back(std::make_unique<Fixture>());
    } else {
        for (int port : options.ports) {
            fixtures.push_back(std::make_unique<Fixture>());
            fixtures.back()->ports = {port};
        }
    }
    std::atomic<int> running{int(fixtures.size())};
    std::vector<std::thread> threads;
    for (auto &fixture : fixtures) {
        Fixture *f = fixture.get();
        threads.emplace_back([&line, f, &running] {
            try {
                serveFixture(line, *f);
            } catch (const std::exception &error) {
                line.output.diagnostic(f->label() + QStringLiteral(": ") + QString::fromLocal8Bit(error.what()));
            }
            --running;
        });
    }

    // Ctrl-C while a fixture has a module in hand: that module is finished first, and said so.
    bool stopSaid = false;
    while (running > 0) {
        QThread::msleep(kStopCheckMs);
        if (stop.requested() && !stopSaid) {
            stopSaid = true;
            for (auto &fixture : fixtures) {
                QMutexLocker lock(&fixture->mutex);
                if (!fixture->moduleInHand.isEmpty())
                    output.diagnostic(QStringLiteral("stopping: module %1 at %2 is finished first")
                                          .arg(fixture->moduleInHand, fixture->portInHand));
            }
        }
    }
    for (std::thread &thread : threads)
        thread.join();

    // The first module that failed names the run's outcome, as its exit status does.
    const Outcome outcome = line.recordFailed ? Outcome::Failure : line.firstFailure.value_or(Outcome::Ok);
    const QString summary = summaryText(line);
    output.diagnostic(summary);
    QJsonObject record;
    if (line.records)
        finishRecords(*line.records, output, record, stop.requested());
    int total = 0;
    QJsonObject counts;
    for (const auto &[each, count] : line.outcomes) {
        counts.insert(outcomeKey(each), count);
        total += count;
    }
    record.insert(QStringLiteral("module_count"), total);
    record.insert(QStringLiteral("outcome_counts"), counts);
    record.insert(QStringLiteral("ended_by"), line.recordFailed ? QStringLiteral("record-failed")
                                              : stop.reason() == StopToken::Reason::TimeUp ? QStringLiteral("timeout")
                                              : stop.requested() ? QStringLiteral("interrupt")
                                                                 : QStringLiteral("count"));
    if (output.json())
        output.result(finalObject(CliCommand::Watch, outcome, summary, record), {});
    return exitStatusOf(outcome);
}
