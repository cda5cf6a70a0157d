#include "cli_commands.h"

#include "console_output.h"
#include "console_tool.h"
#include "line_settings.h"
#include "module_text.h"
#include "outcomes.h"
#include "port_listing.h"
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

// --db for scan, set-baud and clear: a record of each module the run took in hand.
class RunRecords {
public:
    RunRecords(const CliOptions &options, ConsoleOutput &output)
        : m_output(output),
          m_keeper([&output](const QString &text) { output.diagnostic(text); }),
          m_station(options.station.isEmpty() ? QSysInfo::machineHostName() : options.station),
          m_when(QDateTime::currentDateTime())
    {
        m_took.start();
    }

    RecordKeeper &keeper() { return m_keeper; }

    // The module's record; false (said) when it could not be kept, and the run fails.
    bool keep(const ScanResult &scan, Outcome outcome, const QByteArray &lineSettings, QJsonObject &object)
    {
        if (keepModuleRecord(m_keeper, moduleRecordOf(scan, m_station, outcomeKey(outcome), lineSettings, m_when,
                                                      m_took.elapsed()),
                             m_output, object))
            return true;
        m_failed = true;
        return false;
    }

    // The run's final object: what still waits for the server; a record that could not be kept fails the
    // run (as watch stops at one).
    Outcome finish(Outcome outcome, QJsonObject &final)
    {
        finishRecords(m_keeper, m_output, final);
        if (!m_failed || !isSuccess(outcome))
            return outcome;
        final.insert(QStringLiteral("outcome"), outcomeKey(Outcome::Failure));
        final.insert(QStringLiteral("exit_status"), exitStatusOf(Outcome::Failure));
        return Outcome::Failure;
    }

private:
    ConsoleOutput &m_output;
    RecordKeeper m_keeper;
    QString m_station;
    QDateTime m_when;
    QElapsedTimer m_took;
    bool m_failed = false;
};

QJsonObject finalRecord(CliCommand command, Outcome outcome, const QString &message)
{
    return QJsonObject{{QStringLiteral("command"), commandName(command)},
                       {QStringLiteral("outcome"), outcomeKey(outcome)},
                       {QStringLiteral("exit_status"), exitStatusOf(outcome)},
                       {QStringLiteral("message"), message}};
}

// A scan that is the whole command, or one whose module is not fit for the command that follows: its result
// is the run's result.
int reportScan(CliCommand command, const ConsoleTool &tool, const ScanResult &scan, Outcome outcome,
               ConsoleOutput &output, RunRecords *records)
{
    QJsonObject record = finalRecord(command, outcome, scan.message);
    QStringList lines{scan.message};
    const bool stopped = outcome == Outcome::Interrupted || outcome == Outcome::TimedOut;
    if (stopped) {
        output.diagnostic(outcome == Outcome::TimedOut ? QStringLiteral("time is up") : QStringLiteral("interrupted"));
        lines.clear();
    }
    if (scan.found()) {
        insertModuleFields(record, scan);
        if (!stopped)
            lines << moduleLines(tool, scan);
    } else if (!stopped) {
        record.insert(QStringLiteral("ports"), portRecords(scan.report, tool.language()));
    }
    if (records) {
        if (scan.found())
            records->keep(scan, outcome, scan.lineSettings, record);
        outcome = records->finish(outcome, record);
    }
    output.result(record, lines);
    if (!scan.found() && !stopped)
        sayWhatEachPortDid(scan, outcome, tool.language(), output);
    return exitStatusOf(outcome);
}

int runScan(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output, RunRecords *records)
{
    const ScanResult scan = tool.scan();
    if (!options.everyModule || !scan.found())
        return reportScan(CliCommand::Scan, tool, scan, tool.outcomeOf(scan), output, records);
    // --all: one object per module, then the run's final object; success only when every module found was
    // read completely, and the search was not cut short.
    std::optional<Outcome> firstFailure;
    for (size_t i = 0; i < scan.modules.size(); ++i) {
        const ScanResult &module = scan.modules.at(i);
        const Outcome outcome = tool.outcomeOf(module);
        if (!isSuccess(outcome) && !firstFailure)
            firstFailure = outcome;
        QJsonObject record{{QStringLiteral("outcome"), outcomeKey(outcome)},
                           {QStringLiteral("message"), module.message}};
        insertModuleFields(record, module);
        if (records)
            records->keep(module, outcome, module.lineSettings, record);
        QStringList lines = QStringList{module.message} + moduleLines(tool, module);
        // One block per module, a blank line between two.
        if (i > 0)
            lines.prepend(QString());
        output.result(record, lines);
    }
    // Every module means every port: one that could not be searched may have held one.
    const QList<const ScanPortEntry *> unsearched = unsearchedPorts(scan.report);
    if (!unsearched.isEmpty()) {
        for (const ScanPortEntry *entry : unsearched)
            output.diagnostic(QStringLiteral("not searched: %1").arg(scanReportLine(*entry, tool.language())));
        if (!firstFailure)
            firstFailure = Outcome::PortsUnsearched;
    }
    if (scan.stopped) {
        output.diagnostic(QStringLiteral("interrupted: not every port was searched to its end"));
        firstFailure = tool.stoppedOutcome();
    }
    Outcome outcome = firstFailure.value_or(Outcome::Ok);
    QJsonObject record = finalRecord(CliCommand::Scan, outcome, scan.message);
    record.insert(QStringLiteral("module_count"), int(scan.modules.size()));
    if (!unsearched.isEmpty()) {
        QJsonArray ports;
        for (const ScanPortEntry *entry : unsearched)
            ports.append(QJsonObject{{QStringLiteral("port"), portName(entry->status.portNumber)},
                                     {QStringLiteral("device"), entry->status.devicePath},
                                     {QStringLiteral("state"), QString(portProblemKey(entry->status.problem))},
                                     {QStringLiteral("text"), scanReportLine(*entry, tool.language())}});
        record.insert(QStringLiteral("unsearched_ports"), ports);
    }
    if (records)
        outcome = records->finish(outcome, record);
    output.result(record, {});
    return exitStatusOf(outcome);
}

int runModify(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output, RunRecords *records)
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
                              .arg(printable(scan.serialNumber), portName(scan.portNumber),
                                   QString::fromLatin1(options.expectedSerial)));
    }
    // The window refuses both operations until a scan has read the module completely.
    if (outcome != Outcome::Ok)
        return reportScan(options.command, tool, scan, outcome, output, records);

    QStringList lines = QStringList{scan.message} + moduleLines(tool, scan);
    QJsonObject record{{QStringLiteral("command"), commandName(options.command)}};
    insertModuleFields(record, scan);
    const QString serial = printable(scan.serialNumber);
    const QString place = portName(scan.portNumber);
    const bool setBaud = options.command == CliCommand::SetBaud;
    const QString target = setBaud ? QString::fromLatin1(kLineSettingsTable[options.baudRateIndex]) : QString();
    if (setBaud)
        lines << tool.message(Message::SetBaudRate) + QStringLiteral(" = ") + target;
    const ChangeReport change = setBaud ? tool.changeBaudRate(options.baudRateIndex, !options.noStore)
                                        : tool.clearCustomerRegister();
    insertChangeFields(record, change, setBaud);
    if (setBaud)
        record.insert(QStringLiteral("previous_line_settings"), QString::fromLatin1(scan.lineSettings));
    QStringList after = changeLines(change, setBaud, target, place, !options.noStore);
    if (change.outcome == Outcome::Interrupted || change.outcome == Outcome::TimedOut) {
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
    outcome = change.outcome;
    record.insert(QStringLiteral("outcome"), outcomeKey(outcome));
    record.insert(QStringLiteral("exit_status"), exitStatusOf(outcome));
    record.insert(QStringLiteral("message"), change.message);
    if (records) {
        records->keep(scan, outcome, change.lineSettings.isEmpty() ? scan.lineSettings : change.lineSettings, record);
        outcome = records->finish(outcome, record);
    }
    if (change.outcome != Outcome::Interrupted && change.outcome != Outcome::TimedOut)
        lines << change.message << after;
    output.result(record, lines);
    return exitStatusOf(outcome);
}

} // namespace

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
    std::unique_ptr<RunRecords> records;
    if (options.db) {
        records = std::make_unique<RunRecords>(options, output);
        QString message;
        if (const std::optional<Outcome> failed = openRecords(options, output, records->keeper(), message)) {
            output.result(finalRecord(options.command, *failed, message), {});
            return exitStatusOf(*failed);
        }
    }
    ConsoleTool tool(options, output, stop);
    if (options.command == CliCommand::Scan)
        return runScan(tool, options, output, records.get());
    return runModify(tool, options, output, records.get());
}
