#include "cli_commands.h"

#include "console_output.h"
#include "console_platform.h"
#include "exit_status.h"
#include "line_settings.h"
#include "move_confirmation.h"
#include "outcomes.h"
#include "port_listing.h"
#include "scan_report.h"

#include <QJsonArray>
#include <QJsonObject>

QString commandName(CliCommand command)
{
    switch (command) {
    case CliCommand::Ports: return QStringLiteral("ports");
    case CliCommand::Scan: return QStringLiteral("scan");
    case CliCommand::SetBaud: return QStringLiteral("set-baud");
    case CliCommand::Clear: return QStringLiteral("clear");
    case CliCommand::Watch: return QStringLiteral("watch");
    }
    return {};
}

QString portName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

bool found(const ModuleReading &reading)
{
    return reading.outcome == ModuleReading::Outcome::Complete
           || reading.outcome == ModuleReading::Outcome::InformationError;
}

void sayWhatEachPortDid(const ModuleReading &reading, int language, ConsoleOutput &output, const QString &prefix)
{
    output.diagnostic(prefix
                      + (reading.outcome == ModuleReading::Outcome::NoPort ? QStringLiteral("no port could be opened:")
                                                                            : QStringLiteral("no module answered:")));
    for (const QString &line : scanReportLines(reading.report, language))
        output.diagnostic(QStringLiteral("  ") + line);
}

namespace {

// What the scan did at each port it came to, for a script.
QJsonArray portRecords(const ModuleReading &reading, int language)
{
    QJsonArray ports;
    for (const ScanPortEntry &entry : reading.report) {
        QJsonArray tried;
        for (const QByteArray &lineSettings : entry.lineSettingsTried)
            tried.append(QString::fromLatin1(lineSettings));
        // A reply with a bad check (noise) or only late replies are not silence.
        const QString state = entry.answered        ? QStringLiteral("answered")
                              : entry.badChecks > 0   ? QStringLiteral("bad-check")
                              : entry.lateReplies > 0 ? QStringLiteral("late-reply")
                              : entry.opened()        ? QStringLiteral("no-answer")
                                                      : QString(portProblemKey(entry.status.problem));
        QJsonObject record{{QStringLiteral("port"), portName(entry.status.portNumber)},
                           {QStringLiteral("device"), entry.status.devicePath},
                           {QStringLiteral("state"), state},
                           {QStringLiteral("line_settings_tried"), tried},
                           {QStringLiteral("requests"), entry.requests},
                           {QStringLiteral("text"), scanReportLine(entry, language)}};
        if (entry.status.holderPid > 0) {
            record.insert(QStringLiteral("holder_pid"), entry.status.holderPid);
            record.insert(QStringLiteral("holder_name"), entry.status.holderName);
        }
        ports.append(record);
    }
    return ports;
}

// The command's final object: what the scan found (or what each port did), then the command's own fields.
QJsonObject readingRecord(CliCommand command, const ModuleReading &reading, int language)
{
    QString name = outcomeName(reading.outcome);
    // Nothing readable came, but something did answer: noise on the line, not an empty bench.
    if (reading.outcome == ModuleReading::Outcome::NotFound) {
        for (const ScanPortEntry &entry : reading.report) {
            if (entry.badChecks > 0)
                name = outcome::badCheck;
        }
    }
    QJsonObject record{{QStringLiteral("command"), commandName(command)},
                       {QStringLiteral("outcome"), name},
                       {QStringLiteral("exit_status"), exitStatusForOutcome(name)},
                       {QStringLiteral("message"), reading.message}};
    if (found(reading)) {
        record.insert(QStringLiteral("port"), portName(reading.portNumber));
        record.insert(QStringLiteral("device"), reading.devicePath);
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(reading.lineSettings));
        record.insert(QStringLiteral("serial_number"), reading.serialNumber);
        record.insert(QStringLiteral("version"), reading.version);
        record.insert(QStringLiteral("customer_register"), reading.customerRegister);
        if (!reading.scan.complete() && reading.scan.failedReply != FrameReply::Kind::Good)
            record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(reading.scan.failedReply)));
    } else if (reading.outcome != ModuleReading::Outcome::Interrupted) {
        record.insert(QStringLiteral("ports"), portRecords(reading, language));
    }
    return record;
}

// The window's four panels as they stand after the scan, and the line settings beside the port.
QStringList readingLines(const ConsoleTool &tool, const ModuleReading &reading)
{
    if (!found(reading))
        return {reading.message};
    QStringList lines{reading.message, tool.message(Message::SerialNumber) + QStringLiteral(" : ") + reading.serialNumber};
    if (!reading.version.isEmpty())
        lines << tool.message(Message::Version) + QStringLiteral(" : ") + reading.version;
    if (reading.outcome == ModuleReading::Outcome::Complete)
        lines << tool.message(Message::Customer) + QStringLiteral(" : ") + reading.customerRegister;
    lines << tool.message(Message::BaudRate) + QStringLiteral(" : ") + QString::fromLatin1(reading.lineSettings);
    return lines;
}

// A scan that is the whole command, or one whose module is not fit for the command that follows: its result
// is the run's result.
int reportScanOnly(CliCommand command, ConsoleTool &tool, const ModuleReading &reading, ConsoleOutput &output)
{
    const int language = tool.settings().languageIndex;
    QStringList lines = readingLines(tool, reading);
    if (reading.outcome == ModuleReading::Outcome::Interrupted) {
        output.diagnostic(QStringLiteral("interrupted"));
        lines.clear();
    }
    const QJsonObject record = readingRecord(command, reading, language);
    output.result(record, lines);
    if (!found(reading) && reading.outcome != ModuleReading::Outcome::Interrupted)
        sayWhatEachPortDid(reading, language, output);
    return record.value(QStringLiteral("exit_status")).toInt();
}

// The scan every command starts with: the window's, or every port of the list at once with --parallel.
// The first reading stands for the scan (with --all there is one per module).
QList<ModuleReading> scanFor(ConsoleTool &tool, const CliOptions &options)
{
    if (!options.parallel)
        return {tool.scan()};
    QList<int> ports = options.ports;
    if (ports.isEmpty()) {
        for (int port = 1; port <= 16; ++port)
            ports << port;
    }
    return tool.scanParallel(ports, options.everyModule);
}

int runScan(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    const QList<ModuleReading> readings = scanFor(tool, options);
    if (!options.everyModule || !found(readings.first()))
        return reportScanOnly(CliCommand::Scan, tool, readings.first(), output);
    // --all: one object per module, then the run's final object; success only when every module found was
    // read completely.
    const int language = tool.settings().languageIndex;
    int status = kExitSuccess;
    QString first;
    for (int i = 0; i < readings.size(); ++i) {
        QJsonObject record = readingRecord(CliCommand::Scan, readings.at(i), language);
        const QString name = record.value(QStringLiteral("outcome")).toString();
        if (!isSuccess(name) && first.isEmpty()) {
            first = name;
            status = exitStatusForOutcome(name);
        }
        record.remove(QStringLiteral("command"));
        record.remove(QStringLiteral("exit_status"));
        QStringList lines = readingLines(tool, readings.at(i));
        // One block per module, a blank line between two.
        if (i > 0)
            lines.prepend(QString());
        output.result(record, lines);
    }
    output.result(QJsonObject{{QStringLiteral("command"), commandName(CliCommand::Scan)},
                              {QStringLiteral("exit_status"), status},
                              {QStringLiteral("outcome"), first.isEmpty() ? outcome::ok : first},
                              {QStringLiteral("modules"), int(readings.size())}},
                  {});
    return status;
}

int runModify(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    ModuleReading reading = scanFor(tool, options).first();
    // Stopped while the module was read: it has not been changed, and is not.
    if (found(reading) && stopRequested())
        reading.outcome = ModuleReading::Outcome::Interrupted;
    // The window refuses both operations until a scan has read the module completely.
    if (reading.outcome != ModuleReading::Outcome::Complete)
        return reportScanOnly(options.command, tool, reading, output);

    const int language = tool.settings().languageIndex;
    QStringList lines = readingLines(tool, reading);
    QJsonObject record = readingRecord(options.command, reading, language);
    const bool setBaud = options.command == CliCommand::SetBaud;
    tool.port().setGuardChanges(true);
    OperationResult result;
    if (setBaud) {
        const QString target = QString::fromLatin1(kLineSettingsTable[options.baudRateIndex]);
        lines << tool.message(Message::SetBaudRate) + QStringLiteral(" = ") + target;
        result = tool.setBaudRate(options.baudRateIndex);
        record.insert(QStringLiteral("previous_line_settings"), QString::fromLatin1(reading.lineSettings));
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(tool.settings().lineSettings));
    } else {
        result = tool.clearCustomerRegister();
    }
    QString name = result.accepted ? outcome::ok : setBaud ? outcome::setBaudRefused : outcome::clearRefused;
    QStringList after;
    if (setBaud && result.accepted) {
        // The next run finds the module only where the store says: it is stored once it answers there.
        const MoveConfirmation moved = tool.confirmMove(options.baudRateIndex, reading.serialNumber);
        const QString target = QString::fromLatin1(kLineSettingsTable[options.baudRateIndex]);
        record.insert(QStringLiteral("confirmed"), moved.confirmed);
        if (moved.confirmed) {
            after << QStringLiteral("module answers at %1 on %2; stored").arg(target, portName(reading.portNumber));
        } else {
            name = outcome::setBaudUnconfirmed;
            after << QStringLiteral("no answer at %1 on %2 within %3 s of the change; nothing stored")
                         .arg(target, portName(reading.portNumber))
                         .arg(kMoveConfirmWindowMs / 1000);
        }
    }
    if (tool.port().changeHeldBack()) {
        name = outcome::interrupted;
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(reading.lineSettings));
        output.diagnostic(QStringLiteral("interrupted before the module was changed: %1 is untouched")
                              .arg(reading.serialNumber));
    } else if (stopRequested()) {
        output.diagnostic(QStringLiteral("interrupted while the module was being changed: %1 was finished first")
                              .arg(reading.serialNumber));
    }
    tool.port().setGuardChanges(false);
    if (!result.accepted && result.failedReply != FrameReply::Kind::Good)
        record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(result.failedReply)));
    const int status = exitStatusForOutcome(name);
    record.insert(QStringLiteral("outcome"), name);
    record.insert(QStringLiteral("exit_status"), status);
    record.insert(QStringLiteral("message"), result.message);
    if (name != outcome::interrupted)
        lines << result.message << after;
    output.result(record, lines);
    return status;
}

} // namespace

int runCommand(const CliOptions &options, ConsoleOutput &output)
{
    switch (options.command) {
    case CliCommand::Ports:
        return runPorts(options, output);
    case CliCommand::Watch:
        return runWatch(options, output);
    case CliCommand::Scan:
    case CliCommand::SetBaud:
    case CliCommand::Clear:
        break;
    }
    ConsoleTool tool(options, output);
    if (options.command == CliCommand::Scan)
        return runScan(tool, options, output);
    return runModify(tool, options, output);
}
