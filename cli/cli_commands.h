#pragma once

#include "cli_options.h"
#include "console_tool.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

class ConsoleOutput;

// Runs one command of the console program; returns its exit status. Every run ends with one final JSON
// object (with --json) naming the command and the exit status.
int runCommand(const CliOptions &options, ConsoleOutput &output);

QString commandName(CliCommand command);
QString portName(int portNumber);
bool found(const ModuleReading &reading);
// A scan that found nothing says on standard error what happened at each port, in the scan report's words.
void sayWhatEachPortDid(const ModuleReading &reading, int language, ConsoleOutput &output, const QString &prefix = {});

// modulebench-cli watch: the production line, one fixture per --port (or one over COM1 to COM16).
int runWatch(const CliOptions &options, ConsoleOutput &output);
