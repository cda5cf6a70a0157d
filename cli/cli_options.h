#pragma once

#include "console_options.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct ParsedArguments {
    enum class Kind { Run, Help, Version, Usage };
    Kind kind = Kind::Usage;
    CliOptions options;
    QString error; // for Usage: one line saying what is wrong
    QString commandName; // for Usage: the command named, if any, for the final JSON object
    bool json = false;   // for Usage: --json was among the arguments
};

// The arguments without the program name. rawArguments: the same as the bytes given (Unix), so that a
// file name that is not valid text is opened under its own name; may be empty.
ParsedArguments parseArguments(const QStringList &arguments, const QList<QByteArray> &rawArguments = {});

// "3", "COM3", "3-6" (also "COM3-COM6"): the port numbers, in order; false when it is none of these.
bool parsePortList(const QString &text, QList<int> &ports);

QString helpText();
QString versionText();
