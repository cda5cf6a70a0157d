#include "final_object.h"

QString commandName(CliCommand command)
{
    switch (command) {
    case CliCommand::Ports: return QStringLiteral("ports");
    case CliCommand::Scan: return QStringLiteral("scan");
    case CliCommand::SetBaud: return QStringLiteral("set-baud");
    case CliCommand::Clear: return QStringLiteral("clear");
    case CliCommand::Watch: return QStringLiteral("watch");
    case CliCommand::History: return QStringLiteral("history");
    case CliCommand::RecordsSummary: return QStringLiteral("records summary");
    case CliCommand::RecordsSync: return QStringLiteral("records sync");
    }
    return {};
}

QJsonObject finalObject(const QJsonValue &command, Outcome outcome, const QString &message, const QJsonObject &fields)
{
    QJsonObject object = fields;
    object.insert(QStringLiteral("command"), command);
    object.insert(QStringLiteral("outcome"), outcomeKey(outcome));
    object.insert(QStringLiteral("exit_status"), exitStatusOf(outcome));
    object.insert(QStringLiteral("message"), message);
    return object;
}
