// modulebench-sim: a virtual module on a pseudo-terminal, for tests, demonstrations and
// technicians without the hardware.
#include "line_settings.h"
#include "sim_loop.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const kDescription =
    "A virtual module on a pseudo-terminal. Prints the terminal's path as the first line of output,\n"
    "then answers S01, V01, G06, E01<code> and F06 with 32 asterisks until SIGINT or SIGTERM.\n"
    "It answers only while the tool's side of the line runs at the module's baud rate. A pseudo-terminal\n"
    "carries no parity, so the parity of the line settings is not checked; replies are paced at the\n"
    "wire time of the module's line settings (10 or 11 bits per byte).\n"
    "Traffic is logged with CLOCK_MONOTONIC times in milliseconds.";

bool fail(const QString &message)
{
    std::fprintf(stderr, "modulebench-sim: %s\n", qPrintable(message));
    return false;
}

bool readField(const QCommandLineParser &parser, const QString &name, int length, QByteArray &field)
{
    if (!parser.isSet(name))
        return true;
    const QByteArray value = parser.value(name).toLocal8Bit();
    if (value.size() != length)
        return fail(QStringLiteral("--%1 needs exactly %2 characters").arg(name).arg(length));
    if (value.contains('\x0F') || value.contains('\x0D'))
        return fail(QStringLiteral("--%1 must not hold the bytes 0x0F or 0x0D").arg(name));
    field = value;
    return true;
}

bool readNumber(const QCommandLineParser &parser, const QString &name, int low, int high, int &number)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high)
        return fail(QStringLiteral("--%1 takes a number from %2 to %3").arg(name).arg(low).arg(high));
    number = value;
    return true;
}

bool readConfig(const QCommandLineParser &parser, SimConfig &config)
{
    ModuleIdentity &identity = config.identity;
    ModuleFaults &faults = config.faults;
    if (!readField(parser, QStringLiteral("serial"), 8, identity.serialNumber)
        || !readField(parser, QStringLiteral("firmware"), 8, identity.firmwareVersion)
        || !readField(parser, QStringLiteral("customer"), 30, identity.customerRegister)
        || !readNumber(parser, QStringLiteral("line-settings-index"), 0, kLineSettingsCount - 1,
                       identity.lineSettingsIndex)
        || !readNumber(parser, QStringLiteral("serial-length"), 14, 16, faults.serialFrameLength)
        || !readNumber(parser, QStringLiteral("delay"), 0, 3600000, config.delayMs)
        || !readNumber(parser, QStringLiteral("reset"), 0, 3600000, config.resetMs)
        || !readNumber(parser, QStringLiteral("answer-from"), 1, 1000000000, faults.answerFrom)
        || !readNumber(parser, QStringLiteral("com"), 1, 16, config.comNumber))
        return false;
    faults.silent = parser.isSet(QStringLiteral("silent"));
    faults.badCheck = parser.isSet(QStringLiteral("bad-check"));
    faults.lowercaseCheck = parser.isSet(QStringLiteral("lowercase-check"));
    faults.noise = parser.isSet(QStringLiteral("noise"));
    for (const QString &command : parser.values(QStringLiteral("ignore"))) {
        if (command.isEmpty())
            return fail(QStringLiteral("--ignore needs a command"));
        faults.ignoredCommands.append(command.toLatin1());
    }
    faults.silentAfter = parser.value(QStringLiteral("silent-after")).toLatin1();
    config.lateFrom = parser.value(QStringLiteral("late-from")).toLatin1();
    if (parser.isSet(QStringLiteral("late-from")) && config.lateFrom.isEmpty())
        return fail(QStringLiteral("--late-from needs a command"));
    config.stream = parser.isSet(QStringLiteral("stream"));
    config.exitOnEof = parser.isSet(QStringLiteral("exit-on-eof"));
    config.logTarget = parser.value(QStringLiteral("log"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modulebench-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MB_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    // Read here rather than by the parser, to tell callers of the firmware option's old name where it went.
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Print the version and exit."));
    parser.addOption(versionOption);
    parser.addOptions({
        {QStringLiteral("serial"), QStringLiteral("Serial number, 8 characters."), QStringLiteral("TEXT")},
        {QStringLiteral("firmware"), QStringLiteral("Firmware version, 8 characters."), QStringLiteral("TEXT")},
        {QStringLiteral("customer"), QStringLiteral("Customer register, 30 characters."), QStringLiteral("TEXT")},
        {QStringLiteral("line-settings-index"),
         QStringLiteral("The module's line settings, 0 to 11 (default 5, \"19200,e,8,1\")."), QStringLiteral("N")},
        {QStringLiteral("com"),
         QStringLiteral("Also link the terminal as COMn in $XDG_CONFIG_HOME/KAVOR/ports (removed at the end; "
                        "a link that was there comes back)."),
         QStringLiteral("N")},
        {QStringLiteral("log"), QStringLiteral("Log the traffic to FILE, or to stderr with -."), QStringLiteral("FILE")},
        {QStringLiteral("exit-on-eof"),
         QStringLiteral("End when stdin reaches its end; each byte read before it gets \"logged\" on stdout once the "
                        "log holds every line before it.")},
        {QStringLiteral("silent"), QStringLiteral("Fault: never answer.")},
        {QStringLiteral("bad-check"), QStringLiteral("Fault: replies carry a wrong check.")},
        {QStringLiteral("lowercase-check"),
         QStringLiteral("Fault: check digits in lower case (visible only when the check has a letter A-F).")},
        {QStringLiteral("serial-length"), QStringLiteral("Fault: the S01 reply frame is 14 or 16 bytes long."),
         QStringLiteral("N")},
        {QStringLiteral("noise"), QStringLiteral("Fault: stray bytes (no 0x0F) before each reply.")},
        {QStringLiteral("delay"), QStringLiteral("Fault: wait MS milliseconds before answering."), QStringLiteral("MS")},
        {QStringLiteral("late-from"),
         QStringLiteral("Fault: with --delay, answer on time until a request starting with CMD (e.g. E01), and late "
                        "from that one on, as a module that resets or sits on a marginal cable."),
         QStringLiteral("CMD")},
        {QStringLiteral("reset"),
         QStringLiteral("After a baud-rate change, answer nothing for MS milliseconds while resetting (default 0)."),
         QStringLiteral("MS")},
        {QStringLiteral("ignore"),
         QStringLiteral("Fault: no answer to requests starting with CMD (e.g. V01, E01); may repeat."),
         QStringLiteral("CMD")},
        {QStringLiteral("silent-after"),
         QStringLiteral("Fault: answer a request starting with CMD (e.g. F06), then nothing more, as a module that "
                        "stops on the fixture."),
         QStringLiteral("CMD")},
        {QStringLiteral("answer-from"),
         QStringLiteral("Fault: answer only from the Nth request heard on (good check, right baud rate)."),
         QStringLiteral("N")},
        {QStringLiteral("stream"),
         QStringLiteral("Fault: answer nothing, send an endless stream of bytes without frames (no 0x0F), "
                        "in 16-byte bursts at the wire rate.")},
    });
    parser.process(app);
    if (parser.isSet(versionOption)) {
        if (!parser.positionalArguments().isEmpty()) {
            fail(QStringLiteral("--version takes no value; the module's firmware version is --firmware TEXT"));
            return 2;
        }
        std::printf("modulebench-sim %s\n", MB_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("no arguments besides options"));
        return 2;
    }

    SimConfig config;
    if (!readConfig(parser, config))
        return 2;
    return runSim(config);
}
