#include "module_text.h"

#include "message_table.h"
#include "move_confirmation.h"
#include "port_names.h"
#include "scan_report.h"

QString shownValue(const std::optional<QByteArray> &value)
{
    return value ? printable(*value) : QStringLiteral("not read");
}

QStringList changeLines(const ChangeReport &change, bool baudRate, const QString &target, const QString &place,
                        bool stores)
{
    QStringList lines;
    if (change.acknowledgedLate)
        lines << QStringLiteral("no acknowledgement came, but the module %1")
                     .arg(baudRate ? QStringLiteral("answers at %1: it has moved").arg(target)
                                   : QStringLiteral("reads back cleared"));
    if (baudRate && change.confirmed) {
        lines << (*change.confirmed ? QStringLiteral("module answers at %1 on %2%3")
                                          .arg(target, place, stores ? QStringLiteral("; stored") : QString())
                                    : QStringLiteral("no answer at %1 on %2 within %3 s of the change, nor at the old "
                                                     "line settings; nothing stored")
                                          .arg(target, place, QString::number(kMoveConfirmWindowMs / 1000)));
    }
    if (!baudRate && change.customerRegister)
        lines << QStringLiteral("customer register read back: ") + printable(*change.customerRegister);
    else if (!baudRate && change.outcome == Outcome::ClearUnconfirmed)
        lines << QStringLiteral("customer register read back: not read");
    return lines;
}

QJsonArray portRecords(const ScanReport &report, int language)
{
    QJsonArray ports;
    for (const ScanPortEntry &entry : report) {
        QJsonArray tried;
        for (const QByteArray &lineSettings : entry.lineSettingsTried)
            tried.append(QString::fromLatin1(lineSettings));
        // A reply with a bad check (noise) or only late replies are not silence.
        const QString state = entry.answered        ? QStringLiteral("answered")
                              : entry.badChecks > 0   ? QStringLiteral("bad-check")
                              : entry.lateReplies > 0 ? QStringLiteral("late-reply")
                              : entry.opened()        ? QStringLiteral("no-answer")
                                                      : QString(portProblemKey(entry.status.problem));
        QJsonObject record{{QStringLiteral("port"), portName(entry.status.portNumber)},
                           {QStringLiteral("device"), entry.status.devicePath},
                           {QStringLiteral("state"), state},
                           {QStringLiteral("line_settings_tried"), tried},
                           {QStringLiteral("requests"), entry.requests},
                           {QStringLiteral("text"), scanReportLine(entry, language)}};
        if (entry.status.holderPid > 0) {
            record.insert(QStringLiteral("holder_pid"), entry.status.holderPid);
            record.insert(QStringLiteral("holder_name"), entry.status.holderName);
        }
        ports.append(record);
    }
    return ports;
}

void sayWhatEachPortDid(const ScanResult &scan, Outcome outcome, int language, ConsoleOutput &output,
                        const QString &prefix)
{
    // In Chinese the window's words: "Module Not Find", and "Open COM" "Error" for no port at all.
    QString said;
    if (language == 0)
        said = outcome == Outcome::NoPort ? QStringLiteral("no port could be opened") : QStringLiteral("no module answered");
    else if (outcome == Outcome::NoPort)
        said = messageText(Message::OpenCom, language) + messageText(Message::Error, language);
    else
        said = messageText(Message::NotFound, language);
    output.diagnostic(prefix + said + QLatin1Char(':'));
    for (const QString &line : scanReportLines(scan.report, language))
        output.diagnostic(QStringLiteral("  ") + line);
}
