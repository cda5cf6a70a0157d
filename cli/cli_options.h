#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What a run of the console program was asked to do.
enum class CliCommand { Ports, Scan, SetBaud, Clear, Watch, History, RecordsSummary, RecordsSync };

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
    QString csvFile;              // watch; "-" for standard output
    QByteArray csvFileBytes;      // the name's bytes as given on the command line (Unix), for opening it
    QList<int> ports;             // --port: the ports to use, in this order; empty for COM1 to COM16
    QString station;              // watch --station; empty: the host name
    int count = 0;                // watch --count; 0: no limit
    // A station script's own terms.
    bool noStore = false;         // --no-store: the window's store is neither read nor written
    int lineSettingsIndex = -1;   // --line-settings: where to look (quick attempt, search with the lock); -1: stored
    QByteArray expectedSerial;    // --serial: the only module to change; empty: the one found
    int timeoutSeconds = 0;       // --timeout: the whole run's time; 0: none
    // Records in a database.
    bool db = false;              // --db: each module's record goes to a database
    QString dbUrl;                // its address; empty: the station's own SQLite file
    bool oncePerModule = false;   // watch --once-per-module: a module recorded ok before is not changed
    bool oncePerModuleStrict = false; // =strict: nor one whose records could not be asked
    QString historySerial;        // history SERIAL
    QDateTime since;              // records summary --since; not valid: every record
};

// "scan", "set-baud"...
QString commandName(CliCommand command);

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

// The module's twelve line settings, as the help and the refusals list them.
QString lineSettingsList();

QString helpText();
QString versionText();
