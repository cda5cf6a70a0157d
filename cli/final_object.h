#pragma once

#include "cli_options.h"
#include "outcomes.h"

#include <QJsonObject>
#include <QJsonValue>

// "scan", "set-baud", "records summary"...
QString commandName(CliCommand command);

// The one final object every run of the console program ends with: command (null where the command line
// named none), outcome, exit_status and message, then the command's own fields, which never replace those
// four.
QJsonObject finalObject(const QJsonValue &command, Outcome outcome, const QString &message,
                        const QJsonObject &fields = {});
inline QJsonObject finalObject(CliCommand command, Outcome outcome, const QString &message,
                               const QJsonObject &fields = {})
{
    return finalObject(commandName(command), outcome, message, fields);
}
