#include "cli_options.h"

#include "line_settings.h"
#include "port_names.h"
#include "since_time.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

struct Option {
    const char *name;
    const char *valueName; // null for a flag
    // The subcommands that take it.
    QList<CliCommand> commands;
};

const QList<CliCommand> kScanning{CliCommand::Scan, CliCommand::SetBaud, CliCommand::Clear, CliCommand::Watch};
const QList<CliCommand> kAll{CliCommand::Ports,   CliCommand::Scan,           CliCommand::SetBaud,
                             CliCommand::Clear,   CliCommand::Watch,          CliCommand::History,
                             CliCommand::RecordsSummary, CliCommand::RecordsSync};
const QList<CliCommand> kRecording{CliCommand::Scan, CliCommand::SetBaud, CliCommand::Clear, CliCommand::Watch,
                                   CliCommand::History, CliCommand::RecordsSummary, CliCommand::RecordsSync};

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
    {"station", "NAME", kScanning},
    {"count", "N", {CliCommand::Watch}},
    {"port", "N", kAll},
    {"serial", "SERIAL_NUMBER", {CliCommand::SetBaud, CliCommand::Clear, CliCommand::Watch}},
    {"line-settings", "LINE_SETTINGS", kScanning},
    {"no-store", nullptr, kScanning},
    {"timeout", "SECONDS", kScanning},
    {"db", "URL", kRecording},
    {"since", "TIME", {CliCommand::RecordsSummary}},
    {"once-per-module", "strict", {CliCommand::Watch}},
};

// The highest COM number the tool maps.
constexpr int kHighestPort = 256;

int lineSettingsIndex(const QString &text)
{
    for (int i = 0; i < kLineSettingsCount; ++i) {
        if (text == QLatin1String(kLineSettingsTable[i]))
            return i;
    }
    return -1;
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
        {QStringLiteral("watch"), CliCommand::Watch},    {QStringLiteral("history"), CliCommand::History},
        // records summary, records sync: the second word decides.
        {QStringLiteral("records"), CliCommand::RecordsSummary},
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

bool isOptionName(const QString &word)
{
    QString name = word;
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    name = name.section(QLatin1Char('='), 0, 0);
    if (name == QLatin1String("h") || name == QLatin1String("help") || name == QLatin1String("version")
        || name == QLatin1String("p"))
        return true;
    for (const Option &option : kOptions) {
        if (name == QLatin1String(option.name))
            return true;
    }
    return false;
}

// The bytes of --csv's value as given, found by the same position in the raw arguments.
QByteArray rawCsvName(const QStringList &arguments, const QList<QByteArray> &raw)
{
    if (raw.size() != arguments.size())
        return {};
    QByteArray name;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word == QLatin1String("--"))
            break;
        if ((word == QLatin1String("--csv") || word == QLatin1String("-csv")) && i + 1 < arguments.size())
            name = raw.at(++i);
        else if (word.startsWith(QLatin1String("--csv=")))
            name = raw.at(i).mid(6);
        else if (word.startsWith(QLatin1String("-csv=")))
            name = raw.at(i).mid(5);
    }
    return name;
}

} // namespace

QString lineSettingsList()
{
    QStringList all;
    for (const char *entry : kLineSettingsTable)
        all << QString::fromLatin1(entry);
    return all.join(QLatin1Char(' '));
}

ParsedArguments parseWords(const QStringList &arguments, const QList<QByteArray> &rawArguments);

bool parsePortList(const QString &text, QList<int> &ports)
{
    const auto number = [](QString word, int &n) {
        if (word.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            word = word.mid(3);
        bool ok = false;
        n = word.toInt(&ok);
        return ok && !word.startsWith(QLatin1Char('+')) && !word.startsWith(QLatin1Char('-')) && n >= 1
               && n <= kHighestPort;
    };
    const QStringList ends = text.split(QLatin1Char('-'));
    int first = 0;
    int last = 0;
    if (ends.size() == 1 && number(ends.first(), first)) {
        ports = {first};
        return true;
    }
    if (ends.size() == 2 && number(ends.first(), first) && number(ends.last(), last) && first <= last) {
        ports.clear();
        for (int n = first; n <= last; ++n)
            ports << n;
        return true;
    }
    return false;
}

// --db may come without its value (the station's own file): then the next word is an option, a command or
// nothing. Such a --db becomes --db= here, which the parser takes as set and empty; so does a bare
// --once-per-module.
static QStringList withDbValues(QStringList arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word == QLatin1String("--"))
            break;
        // --once-per-module takes its value (strict) only after '='.
        if (word == QLatin1String("--once-per-module") || word == QLatin1String("-once-per-module")) {
            arguments[i] = QStringLiteral("--once-per-module=");
            continue;
        }
        if (word != QLatin1String("--db") && word != QLatin1String("-db"))
            continue;
        CliCommand command;
        const QString next = arguments.value(i + 1);
        if (i + 1 >= arguments.size() || next.startsWith(QLatin1Char('-')) || commandFromName(next, command))
            arguments[i] = QStringLiteral("--db=");
    }
    return arguments;
}

ParsedArguments parseArguments(const QStringList &givenArguments, const QList<QByteArray> &rawArguments)
{
    const QStringList arguments = withDbValues(givenArguments);
    const bool json = arguments.contains(QStringLiteral("--json")) || arguments.contains(QStringLiteral("-json"));
    QString commandName;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word.startsWith(QLatin1Char('-'))) {
            // An option's value is no command.
            if (!word.contains(QLatin1Char('=')) && isOptionName(word)) {
                const QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
                for (const Option &option : kOptions)
                    i += option.valueName && name == QLatin1String(option.name) ? 1 : 0;
            }
            continue;
        }
        commandName = word;
        // "set-baud -1": the line settings are wrong, not an option unknown.
        if (word == QLatin1String("set-baud") && i + 1 < arguments.size()
            && arguments.at(i + 1).startsWith(QLatin1Char('-')) && !isOptionName(arguments.at(i + 1))) {
            int index = -1;
            QString error;
            readLineSettings(arguments.at(i + 1), index, error);
            ParsedArguments parsed = usage(error);
            parsed.commandName = commandName;
            parsed.json = json;
            return parsed;
        }
        break;
    }
    ParsedArguments parsed = parseWords(arguments, rawArguments);
    parsed.json = json;
    CliCommand known;
    // A word that names no command is no command: the final object says null.
    if (parsed.kind == ParsedArguments::Kind::Usage && commandFromName(commandName, known))
        parsed.commandName = commandName;
    return parsed;
}

ParsedArguments parseWords(const QStringList &arguments, const QList<QByteArray> &rawArguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    for (const Option &option : kOptions) {
        QStringList names{QString::fromLatin1(option.name)};
        // -p, as a station script writes it.
        if (names.first() == QLatin1String("port"))
            names.prepend(QStringLiteral("p"));
        if (option.valueName)
            parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(option.valueName)));
        else
            parser.addOption(QCommandLineOption(QString::fromLatin1(option.name)));
    }
    // QCommandLineParser wants the program name first.
    if (!parser.parse(QStringList{QStringLiteral("modulebench-cli")} + arguments)) {
        // In the program's own style: lower case, the option with its dashes.
        QString error = parser.errorText();
        static const QRegularExpression quotedOption(QStringLiteral("'-*([^']*)'"));
        error.replace(quotedOption, QStringLiteral("--\\1"));
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        if (!error.isEmpty())
            error[0] = error.at(0).toLower();
        return usage(error);
    }

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
        return usage(QStringLiteral("a command is needed: ports, scan, set-baud, clear, watch, history or records"));
    CliOptions &options = parsed.options;
    QString name = positional.takeFirst();
    if (!commandFromName(name, options.command))
        return usage(QStringLiteral("unknown command \"%1\"").arg(name));
    if (name == QLatin1String("records")) {
        const QString what = positional.isEmpty() ? QString() : positional.takeFirst();
        if (what == QLatin1String("summary"))
            options.command = CliCommand::RecordsSummary;
        else if (what == QLatin1String("sync"))
            options.command = CliCommand::RecordsSync;
        else
            return usage(QStringLiteral("records takes summary or sync"));
        name += QLatin1Char(' ') + what;
    }

    for (const Option &option : kOptions) {
        const QString optionName = QString::fromLatin1(option.name);
        if (parser.isSet(optionName) && !option.commands.contains(options.command))
            return usage(QStringLiteral("--%1 does not go with %2").arg(optionName, name));
        if (option.valueName && parser.values(optionName).size() > 1 && optionName != QLatin1String("port"))
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
    options.csvFileBytes = rawCsvName(arguments, rawArguments);
    if (options.csvFile == QLatin1String("-") && options.json)
        return usage(QStringLiteral("--csv - and --json both write to standard output: choose one"));

    for (const QString &value : parser.values(QStringLiteral("port"))) {
        QList<int> more;
        if (value.startsWith(QLatin1Char('/')) || value.startsWith(QLatin1String("\\\\.\\"))) {
            // A device path: the COMn that names it, or a number of its own for this run.
            const int number = portNumberForDevice(value);
            if (number == 0)
                return usage(QStringLiteral("--port %1: no such device").arg(value));
            more << number;
        } else if (!parsePortList(value, more)) {
            return usage(QStringLiteral("--port takes a port number, COMn, a range such as 3-6 or a device path, "
                                        "not \"%1\"")
                             .arg(value));
        }
        for (int n : more) {
            if (options.ports.contains(n))
                return usage(QStringLiteral("--port names COM%1 more than once").arg(n));
            options.ports << n;
        }
    }
    if (parser.isSet(QStringLiteral("station"))) {
        options.station = parser.value(QStringLiteral("station"));
        if (options.station.isEmpty())
            return usage(QStringLiteral("--station needs a name"));
    }
    if (parser.isSet(QStringLiteral("count"))) {
        bool ok = false;
        options.count = parser.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || options.count < 1)
            return usage(QStringLiteral("--count takes a number of modules from 1 up, not \"%1\"")
                             .arg(parser.value(QStringLiteral("count"))));
    }

    options.noStore = parser.isSet(QStringLiteral("no-store"));
    if (options.noStore && options.storedLanguage)
        return usage(QStringLiteral("--no-store reads nothing from the store, --language reads its language: choose one"));
    QString error;
    if (parser.isSet(QStringLiteral("line-settings"))
        && !readLineSettings(parser.value(QStringLiteral("line-settings")), options.lineSettingsIndex, error))
        return usage(error);
    if (parser.isSet(QStringLiteral("serial"))) {
        options.expectedSerial = parser.value(QStringLiteral("serial")).toLatin1();
        if (options.expectedSerial.isEmpty())
            return usage(QStringLiteral("--serial needs the module's serial number"));
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        options.timeoutSeconds = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || options.timeoutSeconds < 1)
            return usage(QStringLiteral("--timeout takes a number of seconds from 1 up, not \"%1\"")
                             .arg(parser.value(QStringLiteral("timeout"))));
    }
    options.db = parser.isSet(QStringLiteral("db"));
    options.dbUrl = parser.value(QStringLiteral("db"));
    options.oncePerModule = parser.isSet(QStringLiteral("once-per-module"));
    options.oncePerModuleStrict = parser.value(QStringLiteral("once-per-module")) == QLatin1String("strict");
    if (options.oncePerModule && !options.oncePerModuleStrict
        && !parser.value(QStringLiteral("once-per-module")).isEmpty())
        return usage(QStringLiteral("--once-per-module takes nothing or =strict, not \"%1\"")
                         .arg(parser.value(QStringLiteral("once-per-module"))));
    const bool readsRecords = options.command == CliCommand::History || options.command == CliCommand::RecordsSummary
                              || options.command == CliCommand::RecordsSync;
    if (readsRecords && !options.db)
        return usage(QStringLiteral("%1 works on a database: --db URL (or --db alone for this station's own file)")
                         .arg(name));
    if (options.oncePerModule && !options.db)
        return usage(QStringLiteral("--once-per-module asks the records whether a module was set up before: it goes "
                                    "with --db"));
    if (!options.station.isEmpty() && !options.db && options.command != CliCommand::Watch)
        return usage(QStringLiteral("--station names the station in the records: it goes with --db"));
    if (parser.isSet(QStringLiteral("since"))) {
        const QString text = parser.value(QStringLiteral("since"));
        const std::optional<QDateTime> since = parseSinceTime(text);
        if (!since)
            return usage(QStringLiteral("--since takes a date or a time such as 2026-12-10, 2026-12-10T06:00 or "
                                        "2026-12-10T06:00+01:00, not \"%1\"")
                             .arg(text));
        options.since = *since;
    }
    if (options.command == CliCommand::History) {
        if (positional.size() != 1 || positional.first().isEmpty())
            return usage(QStringLiteral("history takes one serial number, e.g. history 20240158"));
        options.historySerial = positional.takeFirst();
    }
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
