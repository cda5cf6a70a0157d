#include "cli_options.h"

#include "exit_status.h"
#include "line_settings.h"

#include <QCommandLineParser>

namespace {

struct Option {
    const char *name;
    const char *valueName; // null for a flag
    // The subcommands that take it.
    QList<CliCommand> commands;
};

const QList<CliCommand> kScanning{CliCommand::Scan, CliCommand::SetBaud, CliCommand::Clear, CliCommand::Watch};
const QList<CliCommand> kAll{CliCommand::Ports, CliCommand::Scan, CliCommand::SetBaud, CliCommand::Clear,
                             CliCommand::Watch};

const Option kOptions[] = {
    {"json", nullptr, kAll},
    {"verbose", nullptr, kAll},
    {"language", nullptr, kAll},
    {"all-line-settings", nullptr, kScanning},
    {"parallel", nullptr, {CliCommand::Scan, CliCommand::SetBaud, CliCommand::Clear}},
    {"all", nullptr, {CliCommand::Scan}},
    {"clear", nullptr, {CliCommand::Watch}},
    {"set-baud", "LINE_SETTINGS", {CliCommand::Watch}},
    {"csv", "FILE", {CliCommand::Watch}},
};

int lineSettingsIndex(const QString &text)
{
    for (int i = 0; i < kLineSettingsCount; ++i) {
        if (text == QLatin1String(kLineSettingsTable[i]))
            return i;
    }
    return -1;
}

QString lineSettingsList()
{
    QStringList all;
    for (const char *entry : kLineSettingsTable)
        all << QString::fromLatin1(entry);
    return all.join(QLatin1Char(' '));
}

ParsedArguments usage(const QString &error)
{
    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::Usage;
    parsed.error = error;
    return parsed;
}

bool commandFromName(const QString &name, CliCommand &command)
{
    static const QList<QPair<QString, CliCommand>> names{
        {QStringLiteral("ports"), CliCommand::Ports},    {QStringLiteral("scan"), CliCommand::Scan},
        {QStringLiteral("set-baud"), CliCommand::SetBaud}, {QStringLiteral("clear"), CliCommand::Clear},
        {QStringLiteral("watch"), CliCommand::Watch},
    };
    for (const auto &entry : names) {
        if (entry.first == name) {
            command = entry.second;
            return true;
        }
    }
    return false;
}

// Refused before anything else happens, so a mistyped setting never reaches a port.
bool readLineSettings(const QString &text, int &index, QString &error)
{
    index = lineSettingsIndex(text);
    if (index >= 0)
        return true;
    error = QStringLiteral("\"%1\" is not one of the module's line settings: %2").arg(text, lineSettingsList());
    return false;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    for (const Option &option : kOptions) {
        if (option.valueName)
            parser.addOption(QCommandLineOption(QString::fromLatin1(option.name), QString(),
                                                QString::fromLatin1(option.valueName)));
        else
            parser.addOption(QCommandLineOption(QString::fromLatin1(option.name)));
    }
    // QCommandLineParser wants the program name first.
    if (!parser.parse(QStringList{QStringLiteral("modulebench-cli")} + arguments))
        return usage(parser.errorText());

    ParsedArguments parsed;
    if (parser.isSet(help)) {
        parsed.kind = ParsedArguments::Kind::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.kind = ParsedArguments::Kind::Version;
        return parsed;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("a command is needed: ports, scan, set-baud, clear or watch"));
    CliOptions &options = parsed.options;
    const QString name = positional.takeFirst();
    if (!commandFromName(name, options.command))
        return usage(QStringLiteral("unknown command \"%1\"").arg(name));

    for (const Option &option : kOptions) {
        const QString optionName = QString::fromLatin1(option.name);
        if (parser.isSet(optionName) && !option.commands.contains(options.command))
            return usage(QStringLiteral("--%1 does not go with %2").arg(optionName, name));
        if (option.valueName && parser.values(optionName).size() > 1)
            return usage(QStringLiteral("--%1 is given more than once").arg(optionName));
    }
    options.json = parser.isSet(QStringLiteral("json"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.storedLanguage = parser.isSet(QStringLiteral("language"));
    options.allLineSettings = parser.isSet(QStringLiteral("all-line-settings"));
    options.clear = parser.isSet(QStringLiteral("clear"));
    options.everyModule = parser.isSet(QStringLiteral("all"));
    // Every module on every port means every port searched to its end: at the same time, then.
    options.parallel = parser.isSet(QStringLiteral("parallel")) || options.everyModule;
    options.csvFile = parser.value(QStringLiteral("csv"));
    if (parser.isSet(QStringLiteral("csv")) && options.csvFile.isEmpty())
        return usage(QStringLiteral("--csv needs a file name"));

    QString error;
    if (options.command == CliCommand::SetBaud) {
        if (positional.size() != 1)
            return usage(QStringLiteral("set-baud takes one line setting, e.g. set-baud 38400,n,8,1"));
        if (!readLineSettings(positional.takeFirst(), options.baudRateIndex, error))
            return usage(error);
    } else if (parser.isSet(QStringLiteral("set-baud"))) {
        if (!readLineSettings(parser.value(QStringLiteral("set-baud")), options.baudRateIndex, error))
            return usage(error);
    }
    if (!positional.isEmpty())
        return usage(QStringLiteral("unexpected argument \"%1\"").arg(positional.first()));

    parsed.kind = ParsedArguments::Kind::Run;
    return parsed;
}

QString helpText()
{
    return QStringLiteral(
               "Usage: modulebench-cli COMMAND [OPTIONS]\n"
               "\n"
               "Finds, reads and sets up KAVOR MARDEN-F reader modules from a terminal or a script, with the same\n"
               "request sequences and the same stored settings as the ModuleBench window.\n"
               "\n"
               "Commands:\n"
               "  ports                      COM1 to COM16 (and any other number with a link): the device, what it\n"
               "                             is, and whether it can be opened now. Sends nothing.\n"
               "  scan                       Finds the module (stored port first, then COM1 to COM16) and reads its\n"
               "                             serial number, version and customer register.\n"
               "  set-baud LINE_SETTINGS     Scans, then moves the module to LINE_SETTINGS (the module resets),\n"
               "                             looks for it there and stores where it answers.\n"
               "  clear                      Scans, then clears the module's customer register.\n"
               "  watch                      Production line: waits for a module, reads it (and clears it or sets\n"
               "                             its baud rate when asked), beeps, waits until it has gone, and again,\n"
               "                             until Ctrl-C. A module that stays connected is read once.\n"
               "\n"
               "Options:\n"
               "  --all-line-settings        Search every port at all twelve line settings (the window's lock box\n"
               "                             unchecked); by default only at the stored line settings.\n"
               "  --parallel                 scan, set-baud, clear: search every port at the same time, each with\n"
               "                             the requests and time-outs the one-by-one search gives it; the first\n"
               "                             module that answers wins.\n"
               "  --all                      scan: every module on every port, one result each (implies --parallel).\n"
               "  --clear                    watch: clear each module's customer register.\n"
               "  --set-baud LINE_SETTINGS   watch: move each module to LINE_SETTINGS.\n"
               "  --csv FILE                 watch: append one line per module to FILE (with a header when new):\n"
               "                             time,port,line_settings,serial_number,version,customer_register,outcome\n"
               "  --json                     One JSON object per line on standard output, per module or result.\n"
               "  --language                 The stored language of the window instead of English.\n"
               "  --verbose                  Progress on standard error even when it is not a terminal.\n"
               "  -h, --help                 This text.\n"
               "  --version                  The program's version.\n"
               "\n"
               "LINE_SETTINGS is one of: %1\n"
               "\n"
               "Results go to standard output; progress (\"trying COM3 at 19200,e,8,1\") and diagnostics to\n"
               "standard error, progress only when standard error is a terminal or with --verbose.\n"
               "\n"
               "Exit status:\n"
               "  %2    success\n"
               "  %3    another failure (the CSV file could not be written...)\n"
               "  %4    bad usage (nothing was sent to any port)\n"
               "  %5    module not found\n"
               "  %6    the module answered, but its version or customer register could not be read\n"
               "  %7    the module did not accept the baud-rate change or the clearing\n"
               "  %8    no port could be opened at all (the reasons are printed: no device, permission\n"
               "       denied, busy...)\n"
               "  %9    set-baud: the module accepted the change but did not answer at the new line\n"
               "       settings within 3 s (nothing stored)\n"
               "  %10  interrupted (Ctrl-C or SIGTERM) before scan, set-baud or clear had a result;\n"
               "       watch ends with 0\n")
        .arg(lineSettingsList())
        .arg(int(kExitSuccess))
        .arg(int(kExitFailure))
        .arg(int(kExitUsage))
        .arg(int(kExitNotFound))
        .arg(int(kExitInformationError))
        .arg(int(kExitRefused))
        .arg(int(kExitNoPort))
        .arg(int(kExitNotConfirmed))
        .arg(int(kExitInterrupted));
}

QString versionText()
{
    return QStringLiteral("modulebench-cli " MB_VERSION "\n");
}
