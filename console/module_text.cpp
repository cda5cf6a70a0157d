#include "module_text.h"

#include "message_table.h"
#include "scan_report.h"

QString printable(const QByteArray &value)
{
    QString text;
    text.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0))
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        else
            text += QChar::fromLatin1(c);
    }
    return text;
}

QString printable(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (const QChar c : value) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || c.category() == QChar::Other_Format)
            text += QStringLiteral("\\x%1").arg(unsigned(unit), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

QString shownValue(const std::optional<QByteArray> &value)
{
    return value ? printable(*value) : QStringLiteral("not read");
}

namespace {

bool holdsControlCharacters(const std::optional<QByteArray> &value)
{
    return value && printable(*value) != QString::fromLatin1(*value);
}

QJsonValue jsonValue(const std::optional<QByteArray> &value)
{
    return value ? QJsonValue(QString::fromLatin1(*value)) : QJsonValue(QJsonValue::Null);
}

} // namespace

void insertModuleFields(QJsonObject &record, const ScanResult &module)
{
    record.insert(QStringLiteral("port"), portName(module.portNumber));
    record.insert(QStringLiteral("device"), module.devicePath);
    record.insert(QStringLiteral("line_settings"), QString::fromLatin1(module.lineSettings));
    record.insert(QStringLiteral("serial_number"), QString::fromLatin1(module.serialNumber));
    record.insert(QStringLiteral("version"), jsonValue(module.version));
    record.insert(QStringLiteral("customer_register"), jsonValue(module.customerRegister));
    if (!module.complete() && module.failedReply != FrameReply::Kind::Good)
        record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(module.failedReply)));
    // What a value holds that a reader must know of: bytes that are no text, or the end a zero byte cut off.
    QJsonArray control;
    QJsonArray cut;
    const std::pair<const char *, std::pair<std::optional<QByteArray>, bool>> values[] = {
        {"serial_number", {module.serialNumber, module.cutAtZeroByte.serialNumber}},
        {"version", {module.version, module.cutAtZeroByte.version}},
        {"customer_register", {module.customerRegister, module.cutAtZeroByte.customerRegister}},
    };
    for (const auto &[name, value] : values) {
        if (holdsControlCharacters(value.first))
            control.append(QString::fromLatin1(name));
        if (value.second)
            cut.append(QString::fromLatin1(name));
    }
    if (!control.isEmpty())
        record.insert(QStringLiteral("control_characters"), control);
    if (!cut.isEmpty())
        record.insert(QStringLiteral("cut_at_zero_byte"), cut);
}

void insertChangeFields(QJsonObject &record, const ChangeReport &change, bool baudRate)
{
    record.insert(QStringLiteral("line_settings"), QString::fromLatin1(change.lineSettings));
    if (change.confirmed)
        record.insert(QStringLiteral("confirmed"), *change.confirmed);
    record.insert(QStringLiteral("acknowledged_late"), change.acknowledgedLate);
    if (!isSuccess(change.outcome) && change.failedReply != FrameReply::Kind::Good)
        record.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(change.failedReply)));
    if (change.outcome == Outcome::ModuleChanged)
        record.insert(QStringLiteral("answered_serial_number"), QString::fromLatin1(change.answeredSerialNumber));
    if (!baudRate)
        record.insert(QStringLiteral("customer_register_read_back"), jsonValue(change.customerRegister));
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
                                          .arg(target, place)
                                          .arg(kMoveConfirmWindowMs / 1000));
    }
    if (!baudRate && change.customerRegister)
        lines << QStringLiteral("customer register read back: %1").arg(QString::fromLatin1(*change.customerRegister));
    else if (!baudRate && change.outcome == Outcome::ClearUnconfirmed)
        lines << QStringLiteral("customer register read back: not read");
    return lines;
}

QStringList moduleLines(const ConsoleTool &tool, const ScanResult &module)
{
    const QString joint = QStringLiteral(" : ");
    const auto cut = [](bool cutShort) { return cutShort ? QStringLiteral(" (cut short at a zero byte)") : QString(); };
    return {tool.message(Message::SerialNumber) + joint + printable(module.serialNumber)
                + cut(module.cutAtZeroByte.serialNumber),
            tool.message(Message::Version) + joint + shownValue(module.version) + cut(module.cutAtZeroByte.version),
            tool.message(Message::Customer) + joint + shownValue(module.customerRegister)
                + cut(module.cutAtZeroByte.customerRegister),
            tool.message(Message::BaudRate) + joint + QString::fromLatin1(module.lineSettings)};
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
