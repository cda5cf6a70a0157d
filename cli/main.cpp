// modulebench-cli: the tool's scan, baud-rate change and clearing from a terminal or a script, and the
// production-line loop; the same classes and stored settings as the window, no display needed.
#include "cli_commands.h"
#include "cli_options.h"
#include "console_output.h"
#include "console_platform.h"
#include "final_object.h"
#include "outcomes.h"
#include "record_keeper.h"
#include "run_limit.h"
#include "stop_token.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

bool g_allMessages = false;

// Standard error belongs to the program's progress and diagnostics and to the tool's own logging
// categories; what Qt's libraries say on their own (an audio server that is not there...) only with --verbose.
void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool ours = context.category && std::strncmp(context.category, "modulebench.", 12) == 0;
    if (!g_allMessages && !ours && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    writeShownText(stderr, qFormatLogMessage(type, context, message) + QLatin1Char('\n'));
}

void writeObject(const QJsonObject &record)
{
    writeText(stdout, jsonLine(record) + QLatin1Char('\n'));
}

} // namespace

int main(int argc, char *argv[])
{
    // First of all: a stop that comes while the program starts up ends it at its first safe point too.
    static StopToken stop;
    installStopHandlers(stop);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modulebench-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MB_VERSION));

    const ParsedArguments parsed = parseArguments(QCoreApplication::arguments().mid(1), rawArguments(argc, argv));
    switch (parsed.kind) {
    case ParsedArguments::Kind::Help:
        if (parsed.json) {
            writeObject(finalObject(QJsonValue(QJsonValue::Null), Outcome::Ok, QStringLiteral("the program's help"),
                                    {{QStringLiteral("help"), helpText()}}));
        } else {
            writeShownText(stdout, helpText());
        }
        markFinished();
        return exitStatusOf(Outcome::Ok);
    case ParsedArguments::Kind::Version:
        if (parsed.json) {
            writeObject(finalObject(QJsonValue(QJsonValue::Null), Outcome::Ok, versionText().trimmed(),
                                    {{QStringLiteral("version"), QStringLiteral(MB_VERSION)}}));
        } else {
            writeShownText(stdout, versionText());
        }
        markFinished();
        return exitStatusOf(Outcome::Ok);
    case ParsedArguments::Kind::Usage:
        writeShownText(stderr,
                       QStringLiteral("modulebench-cli: %1\nTry 'modulebench-cli --help'.\n").arg(parsed.error));
        if (parsed.json) {
            // A script reading the results still gets its one final object; an unknown command is none.
            writeObject(finalObject(parsed.commandName.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                 : QJsonValue(parsed.commandName),
                                    Outcome::BadUsage, parsed.error));
        }
        markFinished();
        return exitStatusOf(Outcome::BadUsage);
    case ParsedArguments::Kind::Run:
        break;
    }

    g_allMessages = parsed.options.verbose;
    qInstallMessageHandler(onQtMessage);
    // The program says itself, in its language, what each port did when a scan finds nothing; the scan's
    // own lines on modulebench.scan come only when asked for (QT_LOGGING_RULES wins over this).
    QLoggingCategory::setFilterRules(QStringLiteral("modulebench.scan.info=false"));
    ConsoleOutput output(parsed.options.json, parsed.options.verbose || standardErrorIsTerminal());
    // --timeout: a run that does not end at its next safe point (a driver that blocks) still gives its one
    // final object.
    const RunLimit limit(parsed.options.timeoutSeconds, stop, [&output, &parsed] {
        const QString message = QStringLiteral("time is up, and the run did not end within %1 s of it")
                                    .arg(RunLimit::kGraceSeconds);
        output.diagnostic(message);
        output.result(finalObject(parsed.options.command, Outcome::TimedOut, message), {});
    });
    try {
        const int status = runCommand(parsed.options, output, stop);
        markFinished();
        // A records sender still inside the server's client library: its output written, the process ends
        // without the exit handlers that would pull Qt from under it.
        if (RecordKeeper::senderLeftBehind())
            std::_Exit(status);
        return status;
    } catch (const std::exception &error) {
        output.diagnostic(QString::fromLocal8Bit(error.what()));
        output.result(finalObject(parsed.options.command, Outcome::Failure, QString::fromLocal8Bit(error.what())), {});
    }
    markFinished();
    return exitStatusOf(Outcome::Failure);
}
