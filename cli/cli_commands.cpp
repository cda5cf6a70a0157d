#include "cli_commands.h"

#include "console_output.h"
#include "console_tool.h"
#include "line_settings.h"
#include "module_text.h"
#include "outcomes.h"
#include "port_listing.h"
#include "scan_report.h"
#include "watch.h"

#include <QJsonObject>

namespace {

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
               ConsoleOutput &output)
{
    QJsonObject record = finalRecord(command, outcome, scan.message);
    QStringList lines{scan.message};
    if (outcome == Outcome::Interrupted) {
        output.diagnostic(QStringLiteral("interrupted"));
        lines.clear();
    }
    if (scan.found()) {
        insertModuleFields(record, scan);
        if (outcome != Outcome::Interrupted)
            lines << moduleLines(tool, scan);
    } else if (outcome != Outcome::Interrupted) {
        record.insert(QStringLiteral("ports"), portRecords(scan.report, tool.language()));
    }
    output.result(record, lines);
    if (!scan.found() && outcome != Outcome::Interrupted)
        sayWhatEachPortDid(scan, outcome, tool.language(), output);
    return exitStatusOf(outcome);
}

int runScan(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    const ScanResult scan = tool.scan();
    if (!options.everyModule || !scan.found())
        return reportScan(CliCommand::Scan, tool, scan, scanOutcome(scan), output);
    // --all: one object per module, then the run's final object; success only when every module found was
    // read completely, and the search was not cut short.
    std::optional<Outcome> firstFailure;
    for (size_t i = 0; i < scan.modules.size(); ++i) {
        const ScanResult &module = scan.modules.at(i);
        const Outcome outcome = scanOutcome(module);
        if (!isSuccess(outcome) && !firstFailure)
            firstFailure = outcome;
        QJsonObject record{{QStringLiteral("outcome"), outcomeKey(outcome)},
                           {QStringLiteral("message"), module.message}};
        insertModuleFields(record, module);
        QStringList lines = QStringList{module.message} + moduleLines(tool, module);
        // One block per module, a blank line between two.
        if (i > 0)
            lines.prepend(QString());
        output.result(record, lines);
    }
    if (scan.stopped) {
        output.diagnostic(QStringLiteral("interrupted: not every port was searched to its end"));
        firstFailure = Outcome::Interrupted;
    }
    const Outcome outcome = firstFailure.value_or(Outcome::Ok);
    QJsonObject record = finalRecord(CliCommand::Scan, outcome, scan.message);
    record.insert(QStringLiteral("module_count"), int(scan.modules.size()));
    output.result(record, {});
    return exitStatusOf(outcome);
}

int runModify(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    const ScanResult scan = tool.scan();
    Outcome outcome = scanOutcome(scan);
    // Stopped while the module was read: it has not been changed, and is not.
    if (outcome == Outcome::Ok && tool.stopRequested())
        outcome = Outcome::Interrupted;
    // The window refuses both operations until a scan has read the module completely.
    if (outcome != Outcome::Ok)
        return reportScan(options.command, tool, scan, outcome, output);

    QStringList lines = QStringList{scan.message} + moduleLines(tool, scan);
    QJsonObject record{{QStringLiteral("command"), commandName(options.command)}};
    insertModuleFields(record, scan);
    const QString serial = QString::fromLatin1(scan.serialNumber);
    const QString place = portName(scan.portNumber);
    QString message;
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    QStringList after;
    if (options.command == CliCommand::SetBaud) {
        const QString target = QString::fromLatin1(kLineSettingsTable[options.baudRateIndex]);
        lines << tool.message(Message::SetBaudRate) + QStringLiteral(" = ") + target;
        const BaudRateResult result = tool.setBaudRate(options.baudRateIndex);
        outcome = changeOutcome(result.outcome, Outcome::SetBaudRefused);
        message = result.message;
        failedReply = result.failedReply;
        record.insert(QStringLiteral("previous_line_settings"), QString::fromLatin1(scan.lineSettings));
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(tool.settings().lineSettings));
        if (result.accepted()) {
            // The next run finds the module only where the store says: it is stored once it answers there.
            const MoveConfirmation moved = tool.confirmMove(options.baudRateIndex, scan.serialNumber);
            record.insert(QStringLiteral("confirmed"), moved.confirmed);
            if (moved.confirmed) {
                after << QStringLiteral("module answers at %1 on %2; stored").arg(target, place);
            } else {
                outcome = Outcome::SetBaudUnconfirmed;
                after << QStringLiteral("no answer at %1 on %2 within %3 s of the change; nothing stored")
                             .arg(target, place)
                             .arg(kMoveConfirmWindowMs / 1000);
            }
        }
    } else {
        const ClearResult result = tool.clearCustomerRegister();
        outcome = changeOutcome(result.outcome, Outcome::ClearRefused);
        message = result.message;
        failedReply = result.failedReply;
    }
    if (outcome == Outcome::Interrupted) {
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(scan.lineSettings));
        output.diagnostic(QStringLiteral("interrupted before the module was changed: %1 is untouched").arg(serial));
    } else if (tool.stopRequested()) {
        output.diagnostic(QStringLiteral("interrupted while the module was being changed: %1 was finished first")
                              .arg(serial));
    }
    if (!isSuccess(outcome) && failedReply != FrameReply::Kind::Good)
        record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(failedReply)));
    record.insert(QStringLiteral("outcome"), outcomeKey(outcome));
    record.insert(QStringLiteral("exit_status"), exitStatusOf(outcome));
    record.insert(QStringLiteral("message"), message);
    if (outcome != Outcome::Interrupted)
        lines << message << after;
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
    case CliCommand::Scan:
    case CliCommand::SetBaud:
    case CliCommand::Clear:
        break;
    }
    ConsoleTool tool(options, output, stop);
    if (options.command == CliCommand::Scan)
        return runScan(tool, options, output);
    return runModify(tool, options, output);
}
