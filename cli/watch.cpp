// The production line: one fixture per port given with --port (or one fixture searching COM1 to COM16),
// each served by a thread of its own, so a slow or failing fixture holds no other up. All fixtures write
// to one CSV file and one output stream; each record names its port.
#include "cli_commands.h"
#include "console_output.h"
#include "console_platform.h"
#include "console_tool.h"
#include "csv_log.h"
#include "exit_status.h"
#include "line_settings.h"
#include "outcomes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QSysInfo>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Between two looks at an empty fixture, and at a module that is still connected.
constexpr int kWatchPauseMs = 300;
constexpr int kStopCheckMs = 20;

// What all fixtures share: the record file, the output, the count and the tally.
struct Line {
    const CliOptions &options;
    ConsoleOutput &output;
    CsvLog csv;
    QString station;
    QMutex mutex;
    int modules = 0; // modules taken in hand, counted against --count
    QMap<QString, int> outcomes;
    int firstFailureStatus = kExitSuccess;
    QString firstFailure; // the outcome of the first module that failed
    bool recordFailed = false;
    std::atomic<bool> done{false};

    Line(const CliOptions &o, ConsoleOutput &out) : options(o), output(out) {}

    bool stopping() const { return done || stopRequested(); }

    // A module may be taken in hand unless --count has been reached.
    bool takeModule()
    {
        QMutexLocker lock(&mutex);
        if (options.count > 0 && modules >= options.count)
            return false;
        ++modules;
        return true;
    }

    void tally(const QString &name)
    {
        QMutexLocker lock(&mutex);
        ++outcomes[name];
        if (!isSuccess(name) && firstFailure.isEmpty()) {
            firstFailureStatus = exitStatusForOutcome(name);
            firstFailure = name;
        }
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
bool pauseUnlessStopping(const Line &line, int ms)
{
    for (int waited = 0; waited < ms && !line.stopping(); waited += kStopCheckMs)
        QThread::msleep(kStopCheckMs);
    return !line.stopping();
}

struct Handled {
    QString outcome;
    QString message;
    QByteArray lineSettings; // where the module is left
};

Handled handleModule(ConsoleTool &tool, const CliOptions &options, const ModuleReading &reading, bool alreadySet)
{
    Handled module{outcomeName(reading.outcome), reading.message, reading.lineSettings};
    if (reading.outcome != ModuleReading::Outcome::Complete)
        return module;
    if (options.clear) {
        const OperationResult result = tool.clearCustomerRegister();
        module.message = result.message;
        if (!result.accepted) {
            module.outcome = outcome::clearRefused;
            return module;
        }
    }
    if (alreadySet) {
        module.outcome = outcome::alreadySet;
    } else if (options.baudRateIndex >= 0) {
        const OperationResult result = tool.setBaudRate(options.baudRateIndex);
        module.message = result.message;
        module.lineSettings = tool.settings().lineSettings;
        if (!result.accepted) {
            module.outcome = outcome::setBaudRefused;
        } else if (!tool.confirmMove(options.baudRateIndex, reading.serialNumber, false).confirmed) {
            // Moved, but not heard at the new setting. Nothing is stored per module: the line's next module
            // comes at the setting the store names.
            module.outcome = outcome::setBaudUnconfirmed;
        }
    }
    return module;
}

// The module's record to the file and the output; false when the file could not take it.
bool recordModule(Line &line, const ConsoleTool &tool, const ModuleReading &reading, const Handled &module,
                  const QDateTime &when, qint64 durationMs)
{
    // With the offset, so lines from benches in other time zones, or across a clock change, still sort.
    const QString time = when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate);
    const QMap<QString, QString> values{
        {QStringLiteral("time"), time},
        {QStringLiteral("port"), portName(reading.portNumber)},
        {QStringLiteral("line_settings"), QString::fromLatin1(module.lineSettings)},
        {QStringLiteral("serial_number"), reading.serialNumber},
        {QStringLiteral("version"), reading.version},
        {QStringLiteral("customer_register"), reading.customerRegister},
        {QStringLiteral("outcome"), module.outcome},
        {QStringLiteral("station"), line.station},
        {QStringLiteral("duration_ms"), QString::number(durationMs)},
    };
    bool written = true;
    if (line.csv.isOpen()) {
        QString error;
        written = line.csv.append(values, error);
        if (!written) {
            line.output.diagnostic(QStringLiteral("%1: the record of module %2 could not be written (%3); stopping")
                                       .arg(line.options.csvFile, reading.serialNumber, error));
        }
    }
    QJsonObject record;
    for (auto it = values.begin(); it != values.end(); ++it)
        record.insert(it.key(), it.key() == QLatin1String("duration_ms") ? QJsonValue(durationMs) : QJsonValue(it.value()));
    record.insert(QStringLiteral("device"), reading.devicePath);
    record.insert(QStringLiteral("message"), module.message);
    record.insert(QStringLiteral("recorded"), written);
    if (!reading.scan.complete() && reading.scan.failedReply != FrameReply::Kind::Good)
        record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(reading.scan.failedReply)));

    QStringList parts{when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), portName(reading.portNumber),
                      QString::fromLatin1(module.lineSettings),
                      tool.message(Message::SerialNumber) + QStringLiteral(" : ") + reading.serialNumber};
    if (!reading.version.isEmpty())
        parts << tool.message(Message::Version) + QStringLiteral(" : ") + reading.version;
    if (reading.outcome == ModuleReading::Outcome::Complete)
        parts << tool.message(Message::Customer) + QStringLiteral(" : ") + reading.customerRegister;
    parts << module.message;
    // With the records on standard output (--csv -), the text lines would only get in their way.
    const bool csvOnStdout = line.csv.isOpen() && line.options.csvFile == QLatin1String("-");
    line.output.result(record, csvOnStdout ? QStringList{} : QStringList{parts.join(QStringLiteral("  "))});
    return written;
}

// Waits until the module has gone: silence from its port, another module's serial number, or the device gone.
// A port another program holds for a moment tells nothing, and the wait goes on.
void waitUntilGone(Line &line, ConsoleTool &tool, const ModuleReading &reading)
{
    line.output.progress(QStringLiteral("waiting until module %1 has gone from %2")
                             .arg(reading.serialNumber, portName(reading.portNumber)));
    while (pauseUnlessStopping(line, kWatchPauseMs)) {
        if (tool.lookAgain(reading.serialNumber) == ConsoleTool::Presence::Gone)
            return;
    }
}

void serveFixture(Line &line, Fixture &fixture)
{
    CliOptions options = line.options;
    options.ports = fixture.ports;
    ConsoleTool tool(options, line.output);
    // Several fixtures must not take turns at the one stored place: watch --port stores nothing.
    const bool store = line.options.ports.isEmpty();
    tool.setStoreFound(store);
    const int target = options.baudRateIndex;
    const QString where = fixture.label().isEmpty() ? QString() : fixture.label() + QStringLiteral(": ");
    bool noPortSaid = false;

    line.output.progress(where + QStringLiteral("waiting for a module (Ctrl-C ends)"));
    while (!line.stopping()) {
        QElapsedTimer took;
        took.start();
        ModuleReading reading = tool.scan(true);
        // A module already at the line settings it is to be moved to (reworked, plugged in again) is looked
        // for there too, without storing the place.
        if (!found(reading) && target >= 0 && QByteArray(kLineSettingsTable[target]) != tool.settings().lineSettings
            && !line.stopping()) {
            tool.useLineSettings(target);
            tool.setStoreFound(false);
            reading = tool.scan(true);
            tool.setStoreFound(store);
            if (!found(reading))
                tool.reloadSettings();
        }
        if (line.stopping())
            break; // nothing was changed: the module, if any, stays as it is
        if (!found(reading)) {
            // Said once: an adapter that goes with each module leaves its port without a device between two.
            if (reading.outcome == ModuleReading::Outcome::NoPort && !noPortSaid) {
                sayWhatEachPortDid(reading, tool.settings().languageIndex, line.output, where);
                noPortSaid = true;
            }
            pauseUnlessStopping(line, kWatchPauseMs);
            continue;
        }
        if (!line.takeModule())
            break;
        {
            QMutexLocker lock(&fixture.mutex);
            fixture.moduleInHand = reading.serialNumber;
            fixture.portInHand = portName(reading.portNumber);
        }
        const bool alreadySet = target >= 0 && reading.lineSettings == QByteArray(kLineSettingsTable[target]);
        const QDateTime when = QDateTime::currentDateTime();
        const Handled module = handleModule(tool, options, reading, alreadySet);
        const bool written = recordModule(line, tool, reading, module, when, took.elapsed());
        {
            QMutexLocker lock(&fixture.mutex);
            fixture.moduleInHand.clear();
        }
        line.tally(module.outcome);
        if (!written) {
            QMutexLocker lock(&line.mutex);
            line.recordFailed = true;
            line.done = true;
            break;
        }
        waitUntilGone(line, tool, reading);
        if (line.stopping())
            break;
        // The next module starts where the store says, not where a baud-rate change left this one.
        tool.reloadSettings();
        line.output.progress(where + QStringLiteral("waiting for a module (Ctrl-C ends)"));
    }
}

QString summaryText(const Line &line)
{
    QStringList parts;
    for (auto it = line.outcomes.begin(); it != line.outcomes.end(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    int total = 0;
    for (int n : line.outcomes)
        total += n;
    return QStringLiteral("%1 module%2%3").arg(total).arg(total == 1 ? QString() : QStringLiteral("s"))
        .arg(parts.isEmpty() ? QString() : QStringLiteral(": ") + parts.join(QStringLiteral(", ")));
}

} // namespace

int runWatch(const CliOptions &options, ConsoleOutput &output)
{
    Line line(options, output);
    line.station = options.station.isEmpty() ? QSysInfo::machineHostName() : options.station;
    QJsonObject final{{QStringLiteral("command"), QStringLiteral("watch")}};
    if (!options.csvFile.isEmpty()) {
        QString error;
        if (!line.csv.open(options.csvFile, options.csvFileBytes, error)) {
            output.diagnostic(QStringLiteral("--csv %1: %2").arg(options.csvFile, error));
            final.insert(QStringLiteral("exit_status"), int(kExitFailure));
            final.insert(QStringLiteral("outcome"), outcome::failure);
            final.insert(QStringLiteral("message"), QStringLiteral("--csv %1: %2").arg(options.csvFile, error));
            if (output.json())
                output.result(final, {});
            return kExitFailure;
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
        if (stopRequested() && !stopSaid) {
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

    const int status = line.recordFailed ? int(kExitFailure) : line.firstFailureStatus;
    output.diagnostic(summaryText(line));
    final.insert(QStringLiteral("exit_status"), status);
    // The first module that failed names the run's outcome, as its exit status does.
    final.insert(QStringLiteral("outcome"), line.recordFailed      ? outcome::failure
                                            : line.firstFailure.isEmpty() ? outcome::ok
                                                                          : line.firstFailure);
    int total = 0;
    QJsonObject counts;
    for (auto it = line.outcomes.begin(); it != line.outcomes.end(); ++it) {
        counts.insert(it.key(), it.value());
        total += it.value();
    }
    final.insert(QStringLiteral("modules"), total);
    final.insert(QStringLiteral("outcomes"), counts);
    final.insert(QStringLiteral("ended_by"), line.recordFailed ? QStringLiteral("record-failed")
                                             : stopRequested() ? QStringLiteral("interrupt")
                                                               : QStringLiteral("count"));
    if (output.json())
        output.result(final, {});
    return status;
}
