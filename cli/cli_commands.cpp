#include "cli_commands.h"

#include "console_output.h"
#include "console_tool.h"
#include "final_object.h"
#include "line_settings.h"
#include "module_report.h"
#include "module_text.h"
#include "outcomes.h"
#include "port_listing.h"
#include "port_names.h"
#include "records_commands.h"
#include "run_records.h"
#include "scan_report.h"
#include "watch.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>

namespace {

// A single run's module: when it was taken in hand, at which station, and (with --db) its record.
class RunModule {
public:
    RunModule(const CliOptions &options, ConsoleOutput &output)
        : m_output(output),
          m_station(options.station.isEmpty() ? QSysInfo::machineHostName() : options.station),
          m_when(QDateTime::currentDateTime())
    {
        m_took.start();
        if (options.db)
            m_keeper = std::make_unique<RecordKeeper>([&output](const QString &text) { output.diagnostic(text); });
    }

    RecordKeeper *keeper() { return m_keeper.get(); }

    ModuleFate fate(Outcome outcome, const QString &message) const
    {
        ModuleFate fate;
        fate.outcome = outcome;
        fate.message = message;
        fate.station = m_station;
        fate.when = m_when;
        fate.durationMs = m_took.elapsed();
        return fate;
    }

    // The module's record (--db), named in its object; false (said) when it could not be kept, and the run
    // fails.
    void keep(const ModuleReport &report, QJsonObject &object)
    {
        if (m_keeper && !keepModuleRecord(*m_keeper, report.record, m_output, object))
            m_failed = true;
    }

    // The run's outcome with its records: what still waits for the server goes into the final object's
    // fields; a record that could not be kept fails the run (as watch stops at one).
    Outcome finish(Outcome outcome, QJsonObject &fields)
    {
        if (!m_keeper)
            return outcome;
        finishRecords(*m_keeper, m_output, fields,
                      outcome == Outcome::Interrupted || outcome == Outcome::TimedOut);
        return m_failed && isSuccess(outcome) ? Outcome::Failure : outcome;
    }

private:
    ConsoleOutput &m_output;
    std::unique_ptr<RecordKeeper> m_keeper;
    QString m_station;
    QDateTime m_when;
    QElapsedTimer m_took;
    bool m_failed = false;
};

bool isStop(Outcome outcome)
{
    return outcome == Outcome::Interrupted || outcome == Outcome::TimedOut;
}

// A scan that is the whole command, or one whose module is not fit for the command that follows: its result
// is the run's result.
int reportScan(CliCommand command, const ConsoleTool &tool, const ScanResult &scan, Outcome outcome,
               ConsoleOutput &output, RunModule &run)
{
    QJsonObject fields;
    QStringList lines{scan.message};
    const bool stopped = isStop(outcome);
    if (stopped) {
        output.diagnostic(outcome == Outcome::TimedOut ? QStringLiteral("time is up") : QStringLiteral("interrupted"));
        lines.clear();
    }
    // A module answered: it is shown and recorded, also when the run was stopped after it was read.
    if (scan.found()) {
        const ModuleReport report = moduleReport(scan, run.fate(outcome, scan.message));
        fields = moduleJson(report);
        if (!stopped)
            lines << moduleLines(report, tool);
        run.keep(report, fields);
    } else if (!stopped) {
        fields.insert(QStringLiteral("ports"), portRecords(scan.report, tool.language()));
    }
    outcome = run.finish(outcome, fields);
    output.result(finalObject(command, outcome, scan.message, fields), lines);
    if (!scan.found() && !stopped)
        sayWhatEachPortDid(scan, outcome, tool.language(), output);
    return exitStatusOf(outcome);
}

int runScan(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output, RunModule &run)
{
    const ScanResult scan = tool.scan();
    if (!options.everyModule || !scan.found())
        return reportScan(CliCommand::Scan, tool, scan, tool.outcomeOf(scan), output, run);
    // --all: one object per module, then the run's final object; success only when every module found was
    // read completely, and the search was not cut short.
    std::optional<Outcome> firstFailure;
    for (size_t i = 0; i < scan.modules.size(); ++i) {
        const ScanResult &module = scan.modules.at(i);
        const Outcome outcome = tool.outcomeOf(module);
        if (!isSuccess(outcome) && !firstFailure)
            firstFailure = outcome;
        const ModuleReport report = moduleReport(module, run.fate(outcome, module.message));
        QJsonObject object = moduleJson(report);
        object.insert(QStringLiteral("outcome"), outcomeKey(outcome));
        run.keep(report, object);
        QStringList lines = QStringList{module.message} + moduleLines(report, tool);
        // One block per module, a blank line between two.
        if (i > 0)
            lines.prepend(QString());
        output.result(object, lines);
    }
    // Every module means every port: one that could not be searched may have held one.
    const QList<const ScanPortEntry *> unsearched = unsearchedPorts(scan.report);
    QJsonObject fields{{QStringLiteral("module_count"), int(scan.modules.size())}};
    if (!unsearched.isEmpty()) {
        QJsonArray ports;
        for (const ScanPortEntry *entry : unsearched) {
            output.diagnostic(QStringLiteral("not searched: %1").arg(scanReportLine(*entry, tool.language())));
            ports.append(QJsonObject{{QStringLiteral("port"), portName(entry->status.portNumber)},
                                     {QStringLiteral("device"), entry->status.devicePath},
                                     {QStringLiteral("state"), QString(portProblemKey(entry->status.problem))},
                                     {QStringLiteral("text"), scanReportLine(*entry, tool.language())}});
        }
        fields.insert(QStringLiteral("unsearched_ports"), ports);
        if (!firstFailure)
            firstFailure = Outcome::PortsUnsearched;
    }
    if (scan.stopped) {
        output.diagnostic(QStringLiteral("interrupted: not every port was searched to its end"));
        firstFailure = tool.stoppedOutcome();
    }
    const Outcome outcome = run.finish(firstFailure.value_or(Outcome::Ok), fields);
    output.result(finalObject(CliCommand::Scan, outcome, scan.message, fields), {});
    return exitStatusOf(outcome);
}

int runModify(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output, RunModule &run)
{
    const ScanResult scan = tool.scan();
    Outcome outcome = tool.outcomeOf(scan);
    // Stopped while the module was read: it has not been changed, and is not.
    if (outcome == Outcome::Ok && tool.stopRequested())
        outcome = tool.stoppedOutcome();
    // --serial: another module than the one asked for is left as it is.
    if (outcome == Outcome::Ok && !options.expectedSerial.isEmpty() && scan.serialNumber != options.expectedSerial) {
        outcome = Outcome::WrongModule;
        output.diagnostic(QStringLiteral("%1 found on %2, not %3: nothing was sent to change it")
                              .arg(printable(scan.serialNumber), portName(scan.place.portNumber),
                                   printable(options.expectedSerial)));
    }
    // The window refuses both operations until a scan has read the module completely.
    if (outcome != Outcome::Ok)
        return reportScan(options.command, tool, scan, outcome, output, run);

    const QString serial = printable(scan.serialNumber);
    const QString place = portName(scan.place.portNumber);
    const bool setBaud = options.command == CliCommand::SetBaud;
    const QString target = setBaud ? QString::fromLatin1(kLineSettingsTable[options.baudRateIndex]) : QString();
    const ChangeReport change = setBaud ? tool.changeBaudRate(options.baudRateIndex, !options.noStore)
                                        : tool.clearCustomerRegister();
    ModuleFate fate = run.fate(change.outcome, change.message);
    fate.leftAt = change.place;
    fate.change = change;
    fate.baudRate = setBaud;
    const ModuleReport report = moduleReport(scan, fate);
    QJsonObject fields = moduleJson(report);

    QStringList lines = QStringList{scan.message} + moduleLines(report, tool);
    if (setBaud)
        lines << tool.message(Message::SetBaudRate) + QStringLiteral(" = ") + target;
    if (isStop(change.outcome)) {
        output.diagnostic(QStringLiteral("%1 before the module was changed: %2 is untouched")
                              .arg(change.outcome == Outcome::TimedOut ? QStringLiteral("time is up")
                                                                       : QStringLiteral("interrupted"),
                                   serial));
    } else if (tool.stopRequested()) {
        output.diagnostic(QStringLiteral("interrupted while the module was being changed: %1 was finished first")
                              .arg(serial));
    }
    if (change.outcome == Outcome::ModuleChanged)
        output.diagnostic(QStringLiteral("%1 answered on %2 instead of %3: nothing was sent to change it; scan again")
                              .arg(printable(change.answeredSerialNumber), place, serial));
    run.keep(report, fields);
    outcome = run.finish(change.outcome, fields);
    if (!isStop(change.outcome))
        lines << change.message << changeLines(change, setBaud, target, place, !options.noStore);
    output.result(finalObject(options.command, outcome, change.message, fields), lines);
    return exitStatusOf(outcome);
}

} // namespace

ToolSetup toolSetup(const CliOptions &options)
{
    ToolSetup setup;
    setup.ports = options.ports;
    setup.lock = !options.allLineSettings;
    setup.parallel = options.parallel;
    setup.everyModule = options.everyModule;
    setup.useStore = !options.noStore;
    setup.storedLanguage = options.storedLanguage;
    setup.lineSettingsIndex = options.lineSettingsIndex;
    setup.verbose = options.verbose;
    setup.finishModuleInHand = options.command == CliCommand::Watch;
    return setup;
}

int runCommand(const CliOptions &options, ConsoleOutput &output, StopToken &stop)
{
    switch (options.command) {
    case CliCommand::Ports:
        return runPorts(options, output);
    case CliCommand::Watch:
        return runWatch(options, output, stop);
    case CliCommand::History:
        return runHistory(options, output);
    case CliCommand::RecordsSummary:
        return runRecordsSummary(options, output);
    case CliCommand::RecordsSync:
        return runRecordsSync(options, output);
    case CliCommand::Scan:
    case CliCommand::SetBaud:
    case CliCommand::Clear:
        break;
    }
    // The database first: one that cannot take the records ends the run before any port is touched.
    RunModule run(options, output);
    if (run.keeper()) {
        QString message;
        if (const std::optional<Outcome> failed = openRecords(options, output, *run.keeper(), message)) {
            output.result(finalObject(options.command, *failed, message), {});
            return exitStatusOf(*failed);
        }
    }
    ConsoleTool tool(toolSetup(options), output, stop);
    if (options.command == CliCommand::Scan)
        return runScan(tool, options, output, run);
    return runModify(tool, options, output, run);
}
