#include "run_records.h"

#include "console_options.h"
#include "console_output.h"

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
    }
    return Outcome::Failure;
}

std::optional<Outcome> openRecords(const CliOptions &options, ConsoleOutput &output, RecordKeeper &keeper,
                                   QString &message)
{
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(options.dbUrl, error);
    if (!address) {
        message = QStringLiteral("--db %1: %2").arg(options.dbUrl, error);
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

void finishRecords(RecordKeeper &keeper, ConsoleOutput &output, QJsonObject &finalObject)
{
    const qint64 waiting = keeper.finish();
    if (!keeper.address().isServer())
        return;
    finalObject.insert(QStringLiteral("records_waiting"), waiting);
    if (waiting > 0)
        output.diagnostic(QStringLiteral("records: %1 wait%2 in %3 for %4; modulebench-cli records sync --db URL "
                                         "sends them")
                              .arg(waiting)
                              .arg(waiting == 1 ? QStringLiteral("s") : QString())
                              .arg(keeper.stationFile(), keeper.address().shown()));
}
