#include "records_commands.h"

#include "console_output.h"
#include "module_text.h"
#include "outcomes.h"
#include "record_database.h"
#include "run_records.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

QJsonObject finalObject(const CliOptions &options, Outcome outcome, const QString &message = {})
{
    QJsonObject record{{QStringLiteral("command"), commandName(options.command)},
                       {QStringLiteral("outcome"), outcomeKey(outcome)},
                       {QStringLiteral("exit_status"), exitStatusOf(outcome)}};
    if (!message.isEmpty())
        record.insert(QStringLiteral("message"), message);
    return record;
}

// A run that could not use its database: one line, and the final object.
int refuse(const CliOptions &options, ConsoleOutput &output, Outcome outcome, const QString &message)
{
    output.diagnostic(message);
    output.result(finalObject(options, outcome, message), {});
    return exitStatusOf(outcome);
}

// The database --db names, opened to read; when it cannot be, the run's exit status (said, with the outcome).
struct Readable {
    std::optional<DatabaseAddress> address;
    std::unique_ptr<RecordDatabase> db;
    int status = 0;
};

Readable readable(const CliOptions &options, ConsoleOutput &output)
{
    Readable result;
    QString error;
    result.address = DatabaseAddress::parse(options.dbUrl, error);
    if (!result.address) {
        result.status = refuse(options, output, Outcome::DbBadUrl, QStringLiteral("--db %1: %2").arg(options.dbUrl, error));
        return result;
    }
    result.db = std::make_unique<RecordDatabase>(*result.address);
    const DatabaseProblem problem = result.db->open(RecordDatabase::Use::Read, error);
    if (problem != DatabaseProblem::None) {
        result.status = refuse(options, output, outcomeOf(problem),
                               QStringLiteral("--db %1: %2").arg(result.address->shown(), error));
        result.db.reset();
    }
    return result;
}

QJsonValue optionalValue(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// How many records wait in this station's file for the server; nothing for a SQLite database or a station
// without a file.
std::optional<qint64> waitingHere(const DatabaseAddress &server)
{
    if (!server.isServer() || !QFileInfo::exists(DatabaseAddress::defaultSqlitePath()))
        return std::nullopt;
    DatabaseAddress fileAddress;
    fileAddress.path = DatabaseAddress::defaultSqlitePath();
    RecordDatabase file(fileAddress);
    QString error;
    if (file.open(RecordDatabase::Use::Read, error) != DatabaseProblem::None)
        return std::nullopt;
    return file.waitingCount(server.shown(), error);
}

} // namespace

int runHistory(const CliOptions &options, ConsoleOutput &output)
{
    const Readable opened = readable(options, output);
    if (!opened.db)
        return opened.status;
    const DatabaseAddress *address = &*opened.address;
    QString error;
    const std::optional<QList<ModuleRecord>> records = opened.db->history(options.historySerial, error);
    if (!records)
        return refuse(options, output, Outcome::DbRefused, QStringLiteral("--db %1: %2").arg(address->shown(), error));
    for (const ModuleRecord &record : *records) {
        const QString time = ModuleRecord::timeText(record.time);
        const QJsonObject object{{QStringLiteral("id"), record.id},
                                 {QStringLiteral("time"), time},
                                 {QStringLiteral("station"), record.station},
                                 {QStringLiteral("port"), record.port},
                                 {QStringLiteral("line_settings"), record.lineSettings},
                                 {QStringLiteral("serial_number"), record.serialNumber},
                                 {QStringLiteral("version"), optionalValue(record.version)},
                                 {QStringLiteral("customer_register"), optionalValue(record.customerRegister)},
                                 {QStringLiteral("outcome"), record.outcome},
                                 {QStringLiteral("duration_ms"), record.durationMs},
                                 {QStringLiteral("tool_version"), record.toolVersion}};
        const auto shown = [](const std::optional<QString> &value) {
            return value ? printable(*value) : QStringLiteral("not read");
        };
        output.result(object, {QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8 ms")
                                   .arg(time, printable(record.station), printable(record.port),
                                        printable(record.lineSettings), shown(record.version),
                                        shown(record.customerRegister), printable(record.outcome))
                                   .arg(record.durationMs)});
    }
    QJsonObject final = finalObject(options, Outcome::Ok);
    final.insert(QStringLiteral("serial_number"), options.historySerial);
    final.insert(QStringLiteral("record_count"), int(records->size()));
    output.result(final, records->isEmpty() ? QStringList{QStringLiteral("no records of %1 in %2")
                                                              .arg(printable(options.historySerial), address->shown())}
                                            : QStringList{});
    return exitStatusOf(Outcome::Ok);
}

int runRecordsSummary(const CliOptions &options, ConsoleOutput &output)
{
    const Readable opened = readable(options, output);
    if (!opened.db)
        return opened.status;
    const DatabaseAddress *address = &*opened.address;
    QString error;
    const std::optional<QList<RecordCount>> counts = opened.db->summary(options.since, error);
    if (!counts)
        return refuse(options, output, Outcome::DbRefused, QStringLiteral("--db %1: %2").arg(address->shown(), error));
    QJsonArray rows;
    QStringList lines;
    qint64 total = 0;
    int stationWidth = 7;
    for (const RecordCount &count : *counts)
        stationWidth = std::max(stationWidth, int(printable(count.station).size()));
    lines << QStringLiteral("%1  %2  %3").arg(QStringLiteral("station").leftJustified(stationWidth),
                                              QStringLiteral("outcome").leftJustified(21), QStringLiteral("count"));
    for (const RecordCount &count : *counts) {
        rows.append(QJsonObject{{QStringLiteral("station"), count.station},
                                {QStringLiteral("outcome"), count.outcome},
                                {QStringLiteral("count"), count.count}});
        lines << QStringLiteral("%1  %2  %3").arg(printable(count.station).leftJustified(stationWidth),
                                                  printable(count.outcome).leftJustified(21))
                     .arg(count.count);
        total += count.count;
    }
    lines << QStringLiteral("%1 record%2%3").arg(total).arg(total == 1 ? QString() : QStringLiteral("s"))
                 .arg(options.since.isValid() ? QStringLiteral(" since ") + ModuleRecord::timeText(options.since)
                                              : QString());
    QJsonObject final = finalObject(options, Outcome::Ok);
    final.insert(QStringLiteral("counts"), rows);
    final.insert(QStringLiteral("record_count"), total);
    if (options.since.isValid())
        final.insert(QStringLiteral("since"), ModuleRecord::timeText(options.since));
    if (const std::optional<qint64> waiting = waitingHere(*address)) {
        final.insert(QStringLiteral("records_waiting"), *waiting);
        if (*waiting > 0)
            lines << QStringLiteral("%1 more wait%2 in this station's file to be sent (records sync)")
                         .arg(*waiting)
                         .arg(*waiting == 1 ? QStringLiteral("s") : QString());
    }
    output.result(final, lines);
    return exitStatusOf(Outcome::Ok);
}

int runRecordsSync(const CliOptions &options, ConsoleOutput &output)
{
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(options.dbUrl, error);
    if (!address)
        return refuse(options, output, Outcome::DbBadUrl, QStringLiteral("--db %1: %2").arg(options.dbUrl, error));
    QJsonObject final;
    if (!address->isServer()) {
        // Records for a SQLite file go there directly: nothing ever waits.
        final = finalObject(options, Outcome::Ok);
        final.insert(QStringLiteral("sent_count"), 0);
        final.insert(QStringLiteral("records_waiting"), 0);
        output.result(final, {QStringLiteral("%1 takes its records directly: nothing waits").arg(address->shown())});
        return exitStatusOf(Outcome::Ok);
    }
    const std::optional<qint64> before = waitingHere(*address);
    RecordKeeper keeper([&output](const QString &text) { output.diagnostic(text); });
    const DatabaseProblem problem = keeper.open(*address, error);
    if (problem != DatabaseProblem::None)
        return refuse(options, output, outcomeOf(problem), QStringLiteral("--db %1: %2").arg(address->shown(), error));
    const qint64 waiting = keeper.finish();
    const qint64 sent = std::max<qint64>(0, before.value_or(0) - waiting);
    const Outcome outcome = waiting > 0 ? Outcome::DbUnreachable : Outcome::Ok;
    final = finalObject(options, outcome);
    final.insert(QStringLiteral("sent_count"), sent);
    final.insert(QStringLiteral("records_waiting"), waiting);
    output.result(final, {QStringLiteral("%1 record%2 sent to %3; %4 wait%5")
                              .arg(sent)
                              .arg(sent == 1 ? QString() : QStringLiteral("s"))
                              .arg(address->shown())
                              .arg(waiting)
                              .arg(waiting == 1 ? QStringLiteral("s") : QString())});
    return exitStatusOf(outcome);
}
