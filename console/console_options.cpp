#include "console_options.h"

QString portName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

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
