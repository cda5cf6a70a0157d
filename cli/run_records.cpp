#include "run_records.h"

#include "cli_options.h"
#include "console_output.h"
#include "module_text.h"

Outcome outcomeOf(DatabaseProblem problem)
{
    switch (problem) {
    case DatabaseProblem::None:
        return Outcome::Ok;
    case DatabaseProblem::BadUrl:
        return Outcome::DbBadUrl;
    case DatabaseProblem::Refused:
        return Outcome::DbRefused;
    case DatabaseProblem::ReadOnly:
        return Outcome::DbReadOnly;
    case DatabaseProblem::Unreachable:
        return Outcome::DbUnreachable;
    case DatabaseProblem::Rejected:
        return Outcome::DbRefused;
    }
    return Outcome::Failure;
}

std::optional<Outcome> openRecords(const CliOptions &options, ConsoleOutput &output, RecordKeeper &keeper,
                                   QString &message)
{
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(options.dbUrl, error);
    if (!address) {
        message = QStringLiteral("--db %1: %2").arg(DatabaseAddress::shownForm(options.dbUrl), error);
        output.diagnostic(message);
        return Outcome::DbBadUrl;
    }
    const DatabaseProblem problem = keeper.open(*address, error);
    if (problem == DatabaseProblem::None)
        return std::nullopt;
    message = QStringLiteral("--db %1: %2").arg(address->shown(), error);
    output.diagnostic(message);
    return outcomeOf(problem);
}

bool keepModuleRecord(RecordKeeper &keeper, const ModuleRecord &record, ConsoleOutput &output, QJsonObject &object,
                      const QString &then)
{
    QString error;
    if (keeper.keep(record, error)) {
        object.insert(QStringLiteral("record_id"), record.id);
        return true;
    }
    output.diagnostic(QStringLiteral("%1: the record of module %2 could not be written (%3)%4")
                          .arg(keeper.stationFile(), printable(record.serialNumber), error, then));
    return false;
}

void finishRecords(RecordKeeper &keeper, ConsoleOutput &output, QJsonObject &finalObject, bool stopped)
{
    const qint64 waiting = keeper.finish(stopped);
    if (!keeper.address().isServer())
        return;
    finalObject.insert(QStringLiteral("records_waiting"), waiting);
    const qint64 setAside = keeper.setAside();
    finalObject.insert(QStringLiteral("records_set_aside"), setAside);
    if (setAside > 0)
        output.diagnostic(QStringLiteral("records: %1 turned away by %2 %3 set aside in %4; modulebench-cli records "
                                         "sync --db URL sends them again")
                              .arg(QString::number(setAside), keeper.address().shown(),
                                   setAside == 1 ? QStringLiteral("is") : QStringLiteral("are"), keeper.stationFile()));
    if (waiting > 0)
        output.diagnostic(QStringLiteral("records: %1 wait%2 in %3 for %4; modulebench-cli records sync --db URL "
                                         "sends them")
                              .arg(waiting)
                              .arg(waiting == 1 ? QStringLiteral("s") : QString())
                              .arg(keeper.stationFile(), keeper.address().shown()));
}
