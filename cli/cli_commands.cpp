#include "cli_commands.h"

#include "console_output.h"
#include "console_platform.h"
#include "console_tool.h"
#include "csv_log.h"
#include "exit_status.h"
#include "line_settings.h"
#include "port_listing.h"
#include "scan_report.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

namespace {

// Between two looks at an empty bench, and at a module that is still connected.
constexpr int kWatchPauseMs = 300;
constexpr int kStopCheckMs = 20;

QString portName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString outcomeName(ModuleReading::Outcome outcome)
{
    switch (outcome) {
    case ModuleReading::Outcome::Complete: return QStringLiteral("ok");
    case ModuleReading::Outcome::InformationError: return QStringLiteral("information-error");
    case ModuleReading::Outcome::NotFound: return QStringLiteral("not-found");
    case ModuleReading::Outcome::NoPort: return QStringLiteral("no-port");
    case ModuleReading::Outcome::Interrupted: return QStringLiteral("interrupted");
    }
    return {};
}

int exitStatusFor(ModuleReading::Outcome outcome)
{
    switch (outcome) {
    case ModuleReading::Outcome::Complete: return kExitSuccess;
    case ModuleReading::Outcome::InformationError: return kExitInformationError;
    case ModuleReading::Outcome::NotFound: return kExitNotFound;
    case ModuleReading::Outcome::NoPort: return kExitNoPort;
    case ModuleReading::Outcome::Interrupted: return kExitInterrupted;
    }
    return kExitNotFound;
}

// Sleeps in short steps; false when a stop request came meanwhile.
bool pauseUnlessStopped(int ms)
{
    for (int waited = 0; waited < ms && !stopRequested(); waited += kStopCheckMs)
        QThread::msleep(kStopCheckMs);
    return !stopRequested();
}

bool found(const ModuleReading &reading)
{
    return reading.outcome == ModuleReading::Outcome::Complete
           || reading.outcome == ModuleReading::Outcome::InformationError;
}

// What the scan did at each port it came to, for a script.
QJsonArray portRecords(const ModuleReading &reading, int language)
{
    QJsonArray ports;
    for (const ScanPortEntry &entry : reading.report) {
        QJsonArray tried;
        for (const QByteArray &lineSettings : entry.lineSettingsTried)
            tried.append(QString::fromLatin1(lineSettings));
        const QString state = entry.answered  ? QStringLiteral("answered")
                              : entry.opened() ? QStringLiteral("no-answer")
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

// A scan that found nothing says on standard error what happened at each port, in the scan report's words.
void sayWhatEachPortDid(const ModuleReading &reading, int language, ConsoleOutput &output)
{
    output.diagnostic(reading.outcome == ModuleReading::Outcome::NoPort ? QStringLiteral("no port could be opened:")
                                                                          : QStringLiteral("no module answered:"));
    for (const QString &line : scanReportLines(reading.report, language))
        output.diagnostic(QStringLiteral("  ") + line);
}

QJsonObject readingRecord(const ModuleReading &reading, int language)
{
    QJsonObject record{{QStringLiteral("command"), QStringLiteral("scan")},
                       {QStringLiteral("outcome"), outcomeName(reading.outcome)},
                       {QStringLiteral("exit_status"), exitStatusFor(reading.outcome)},
                       {QStringLiteral("message"), reading.message}};
    if (found(reading)) {
        record.insert(QStringLiteral("port"), portName(reading.portNumber));
        record.insert(QStringLiteral("device"), reading.devicePath);
        record.insert(QStringLiteral("line_settings"), QString::fromLatin1(reading.lineSettings));
        record.insert(QStringLiteral("serial_number"), reading.serialNumber);
        record.insert(QStringLiteral("version"), reading.version);
        record.insert(QStringLiteral("customer_register"), reading.customerRegister);
    }
    if (!found(reading))
        record.insert(QStringLiteral("ports"), portRecords(reading, language));
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

// The scan every command starts with; prints its result and says why when no port could be used.
ModuleReading scanAndReport(ConsoleTool &tool, ConsoleOutput &output)
{
    const ModuleReading reading = tool.scan();
    if (reading.outcome == ModuleReading::Outcome::Interrupted) {
        output.diagnostic(QStringLiteral("interrupted"));
        return reading;
    }
    const int language = tool.settings().languageIndex;
    output.result(readingRecord(reading, language), readingLines(tool, reading));
    if (!found(reading))
        sayWhatEachPortDid(reading, language, output);
    return reading;
}

int runScan(ConsoleTool &tool, ConsoleOutput &output)
{
    return exitStatusFor(scanAndReport(tool, output).outcome);
}

int runModify(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    const ModuleReading reading = scanAndReport(tool, output);
    // The window refuses both operations until a scan has read the module completely.
    if (reading.outcome != ModuleReading::Outcome::Complete)
        return exitStatusFor(reading.outcome);

    const bool setBaud = options.command == CliCommand::SetBaud;
    QJsonObject record{{QStringLiteral("command"), setBaud ? QStringLiteral("set-baud") : QStringLiteral("clear")},
                       {QStringLiteral("port"), portName(reading.portNumber)}};
    QStringList lines;
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
    const int status = result.accepted ? kExitSuccess : kExitRefused;
    record.insert(QStringLiteral("outcome"), result.accepted ? QStringLiteral("ok") : QStringLiteral("refused"));
    record.insert(QStringLiteral("exit_status"), status);
    record.insert(QStringLiteral("message"), result.message);
    lines << result.message;
    output.result(record, lines);
    return status;
}

// One module of the production line: what was read, what was done, how it went.
struct WatchedModule {
    ModuleReading reading;
    QString outcome;
    QString message;
    QByteArray lineSettings; // as the module left: after a baud-rate change, the new ones
};

WatchedModule handleModule(ConsoleTool &tool, const CliOptions &options, const ModuleReading &reading)
{
    WatchedModule module{reading, outcomeName(reading.outcome), reading.message, reading.lineSettings};
    if (reading.outcome != ModuleReading::Outcome::Complete)
        return module;
    if (options.clear) {
        const OperationResult result = tool.clearCustomerRegister();
        module.message = result.message;
        if (!result.accepted) {
            module.outcome = QStringLiteral("clear-refused");
            return module;
        }
    }
    if (options.baudRateIndex >= 0) {
        const OperationResult result = tool.setBaudRate(options.baudRateIndex);
        module.message = result.message;
        module.lineSettings = tool.settings().lineSettings;
        if (!result.accepted)
            module.outcome = QStringLiteral("set-baud-refused");
    }
    return module;
}

void reportModule(const ConsoleTool &tool, const WatchedModule &module, const QDateTime &when, CsvLog &csv,
                  ConsoleOutput &output, bool &csvFailed)
{
    const ModuleReading &reading = module.reading;
    // With the offset, so lines from benches in other time zones, or across a clock change, still sort.
    const QString time = when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate);
    const QStringList values{time,
                             portName(reading.portNumber),
                             QString::fromLatin1(module.lineSettings),
                             reading.serialNumber,
                             reading.version,
                             reading.customerRegister,
                             module.outcome};
    if (csv.isOpen() && !csv.append(values) && !csvFailed) {
        csvFailed = true;
        output.diagnostic(QStringLiteral("the CSV file could not be written"));
    }
    QJsonObject record;
    for (int i = 0; i < values.size(); ++i)
        record.insert(CsvLog::kColumns.at(i), values.at(i));
    record.insert(QStringLiteral("device"), reading.devicePath);
    record.insert(QStringLiteral("message"), module.message);

    QStringList parts{when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), portName(reading.portNumber),
                      QString::fromLatin1(module.lineSettings),
                      tool.message(Message::SerialNumber) + QStringLiteral(" : ") + reading.serialNumber};
    if (!reading.version.isEmpty())
        parts << tool.message(Message::Version) + QStringLiteral(" : ") + reading.version;
    if (reading.outcome == ModuleReading::Outcome::Complete)
        parts << tool.message(Message::Customer) + QStringLiteral(" : ") + reading.customerRegister;
    parts << module.message;
    output.result(record, {parts.join(QStringLiteral("  "))});
}

int runWatch(ConsoleTool &tool, const CliOptions &options, ConsoleOutput &output)
{
    CsvLog csv;
    QString error;
    if (!options.csvFile.isEmpty() && !csv.open(options.csvFile, error)) {
        output.diagnostic(QStringLiteral("%1: %2").arg(options.csvFile, error));
        return kExitFailure;
    }
    bool csvFailed = false;
    bool noPortSaid = false;
    output.progress(QStringLiteral("waiting for a module (Ctrl-C ends)"));
    while (!stopRequested()) {
        const ModuleReading reading = tool.scan(true);
        if (!found(reading)) {
            // Said once: an adapter that goes with each module leaves its port without a device between two.
            if (reading.outcome == ModuleReading::Outcome::NoPort && !noPortSaid) {
                sayWhatEachPortDid(reading, tool.settings().languageIndex, output);
                noPortSaid = true;
            }
            pauseUnlessStopped(kWatchPauseMs);
            continue;
        }
        const QDateTime when = QDateTime::currentDateTime();
        const WatchedModule module = handleModule(tool, options, reading);
        reportModule(tool, module, when, csv, output, csvFailed);

        output.progress(QStringLiteral("waiting until module %1 has gone from %2")
                            .arg(reading.serialNumber, portName(reading.portNumber)));
        while (pauseUnlessStopped(kWatchPauseMs) && tool.moduleStillAnswers(reading.serialNumber)) {
        }
        if (stopRequested())
            break;
        // The next module starts where the store says, not where a baud-rate change left this one.
        tool.reloadSettings();
        output.progress(QStringLiteral("waiting for a module (Ctrl-C ends)"));
    }
    return csvFailed ? kExitFailure : kExitSuccess;
}

} // namespace

int runCommand(const CliOptions &options, ConsoleOutput &output)
{
    if (options.command == CliCommand::Ports)
        return runPorts(options, output);
    ConsoleTool tool(options, output);
    switch (options.command) {
    case CliCommand::Scan:
        return runScan(tool, output);
    case CliCommand::SetBaud:
    case CliCommand::Clear:
        return runModify(tool, options, output);
    case CliCommand::Watch:
        return runWatch(tool, options, output);
    case CliCommand::Ports:
        break;
    }
    return kExitUsage;
}
