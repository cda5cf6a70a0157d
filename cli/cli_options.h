#pragma once

#include <QString>
#include <QStringList>

enum class CliCommand { Ports, Scan, SetBaud, Clear, Watch };

struct CliOptions {
    CliCommand command = CliCommand::Scan;
    bool json = false;
    bool verbose = false;
    bool storedLanguage = false;  // the stored language instead of English
    bool allLineSettings = false; // the lock box unchecked
    bool parallel = false;        // every port searched at the same time
    bool everyModule = false;     // scan --all: every module on every port (searched in parallel)
    bool clear = false;           // watch: clear each module's customer register
    int baudRateIndex = -1;       // set-baud, or watch --set-baud: an index of the line-settings table
    QString csvFile;              // watch
};

struct ParsedArguments {
    enum class Kind { Run, Help, Version, Usage };
    Kind kind = Kind::Usage;
    CliOptions options;
    QString error; // for Usage: one line saying what is wrong
};

// The arguments without the program name.
ParsedArguments parseArguments(const QStringList &arguments);

QString helpText();
QString versionText();
