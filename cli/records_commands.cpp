#include "records_commands.h"

#include "console_output.h"
#include "final_object.h"
#include "module_text.h"
#include "outcomes.h"
#include "record_database.h"
#include "run_records.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

// A run that could not use its database: one line, and the final object.
int refuse(const CliOptions &options, ConsoleOutput &output, Outcome outcome, const QString &message)
{
    output.diagnostic(message);
    output.result(finalObject(options.command, outcome, message), {});
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
        result.status = refuse(options, output, Outcome::DbBadUrl,
                               QStringLiteral("--db %1: %2").arg(DatabaseAddress::shownForm(options.dbUrl), error));
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
    return file.waitingCount(file.waitingKey(server.shown()), error);
}

// What waits in this station's file for other servers than the key's, by server.
QList<QPair<QString, qint64>> waitingElsewhere(const QString &key)
{
    DatabaseAddress fileAddress;
    fileAddress.path = DatabaseAddress::defaultSqlitePath();
    RecordDatabase file(fileAddress);
    QString error;
    if (!QFileInfo::exists(fileAddress.path) || file.open(RecordDatabase::Use::Read, error) != DatabaseProblem::None)
        return {};
    return file.waitingElsewhere(key, error).value_or(QList<QPair<QString, qint64>>());
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
        const auto shown = [](const std::optional<QString> &value) {
            return value ? printable(*value) : QStringLiteral("not read");
        };
        // Each stored value is put in as it is, once: a % in it is no place for another.
        const QStringList parts{ModuleRecord::timeText(record.time), printable(record.station), printable(record.port),
                                printable(record.lineSettings),       shown(record.version),
                                shown(record.customerRegister),       printable(record.outcome),
                                QStringLiteral("%1 ms").arg(record.durationMs)};
        output.result(recordJson(record, tableRecordFields(), true), {parts.join(QStringLiteral("  "))});
    }
    const QString said = records->isEmpty()
                             ? QStringLiteral("no records of %1 in %2").arg(printable(options.historySerial), address->shown())
                             : QStringLiteral("%1 record%2 of %3 in %4")
                                   .arg(records->size())
                                   .arg(records->size() == 1 ? QString() : QStringLiteral("s"))
                                   .arg(printable(options.historySerial), address->shown());
    const QJsonObject fields{{QStringLiteral("serial_number"), options.historySerial},
                             {QStringLiteral("record_count"), int(records->size())}};
    output.result(finalObject(options.command, Outcome::Ok, said, fields),
                  records->isEmpty() ? QStringList{said} : QStringList{});
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
        // Each stored value is put in as it is, once: a % in it is no place for another.
        lines << QStringList{printable(count.station).leftJustified(stationWidth),
                             printable(count.outcome).leftJustified(21), QString::number(count.count)}
                     .join(QStringLiteral("  "));
        total += count.count;
    }
    const QString counted = QStringLiteral("%1 record%2%3").arg(total).arg(total == 1 ? QString() : QStringLiteral("s"))
                                .arg(options.since.isValid() ? QStringLiteral(" since ") + ModuleRecord::timeText(options.since)
                                                             : QString());
    lines << counted;
    QJsonObject final;
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
    output.result(finalObject(options.command, Outcome::Ok, counted, final), lines);
    return exitStatusOf(Outcome::Ok);
}

int runRecordsSync(const CliOptions &options, ConsoleOutput &output)
{
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(options.dbUrl, error);
    if (!address)
        return refuse(options, output, Outcome::DbBadUrl,
                      QStringLiteral("--db %1: %2").arg(DatabaseAddress::shownForm(options.dbUrl), error));
    QJsonObject final;
    if (!address->isServer()) {
        // Records for a SQLite file go there directly: nothing ever waits.
        final.insert(QStringLiteral("sent_count"), 0);
        final.insert(QStringLiteral("records_waiting"), 0);
        const QString said = QStringLiteral("%1 takes its records directly: nothing waits").arg(address->shown());
        output.result(finalObject(options.command, Outcome::Ok, said, final), {said});
        return exitStatusOf(Outcome::Ok);
    }
    RecordKeeper keeper([&output](const QString &text) { output.diagnostic(text); });
    // What the server turned away before is sent again, after what waits: its cause may be mended.
    const DatabaseProblem problem = keeper.open(*address, error, true);
    if (problem != DatabaseProblem::None)
        return refuse(options, output, outcomeOf(problem), QStringLiteral("--db %1: %2").arg(address->shown(), error));
    const qint64 waiting = keeper.finish(false, true);
    const qint64 setAside = keeper.setAside();
    const qint64 sent = keeper.sentCount();
    // Records that wait say the server could not take them; records only set aside, that it turned them away.
    const Outcome outcome = waiting > 0 ? Outcome::DbUnreachable : setAside > 0 ? Outcome::DbRefused : Outcome::Ok;
    final.insert(QStringLiteral("sent_count"), sent);
    final.insert(QStringLiteral("records_waiting"), waiting);
    final.insert(QStringLiteral("records_set_aside"), setAside);
    // One pass: a % in the address is no place for a count.
    QString said = QStringLiteral("%1 record%2 sent to %3; %4 wait%5")
                       .arg(QString::number(sent), sent == 1 ? QString() : QStringLiteral("s"), address->shown(),
                            QString::number(waiting), waiting == 1 ? QStringLiteral("s") : QString());
    if (setAside > 0)
        said += QStringLiteral("; %1 turned away, set aside").arg(setAside);
    // A station whose server's address changed, or that served another server before.
    QJsonArray elsewhere;
    QStringList others;
    for (const auto &[server, count] : waitingElsewhere(keeper.waitingKey())) {
        elsewhere.append(QJsonObject{{QStringLiteral("server"), server}, {QStringLiteral("count"), count}});
        others << QStringLiteral("%1 for %2").arg(QString::number(count), server);
    }
    final.insert(QStringLiteral("waiting_for_other_servers"), elsewhere);
    if (!others.isEmpty())
        said += QStringLiteral("; waiting for other servers: ") + others.join(QStringLiteral(", "));
    output.result(finalObject(options.command, outcome, said, final), {said});
    return exitStatusOf(outcome);
}
