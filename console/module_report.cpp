#include "module_report.h"

#include "console_tool.h"
#include "module_text.h"
#include "port_names.h"
#include "scan_report.h"

#include <QJsonArray>

namespace {

std::optional<QString> textOf(const std::optional<QByteArray> &value)
{
    return value ? std::optional<QString>(QString::fromLatin1(*value)) : std::nullopt;
}

// The module's own bytes back from the record (which holds them as Latin-1 text, one character a byte).
std::optional<QByteArray> bytesOf(const std::optional<QString> &value)
{
    return value ? std::optional<QByteArray>(value->toLatin1()) : std::nullopt;
}

bool holdsControlCharacters(const std::optional<QString> &value)
{
    return value && printable(value->toLatin1()) != *value;
}

QJsonValue jsonValue(const std::optional<QByteArray> &value)
{
    return value ? QJsonValue(QString::fromLatin1(*value)) : QJsonValue(QJsonValue::Null);
}

} // namespace

ModuleReport moduleReport(const ScanResult &scan, const ModuleFate &fate)
{
    ModuleReport report;
    const Place &left = fate.leftAt ? *fate.leftAt : scan.place;
    ModuleRecord &record = report.record;
    record = ModuleRecord::make();
    record.time = fate.when;
    record.station = fate.station;
    record.port = portName(left.portNumber);
    record.lineSettings = QString::fromLatin1(left.lineSettings);
    record.serialNumber = QString::fromLatin1(scan.serialNumber);
    record.version = textOf(scan.version);
    record.customerRegister = textOf(scan.customerRegister);
    record.outcome = outcomeKey(fate.outcome);
    record.durationMs = fate.durationMs;

    report.outcome = fate.outcome;
    report.message = fate.message;
    report.device = scan.place.devicePath;
    report.cutAtZeroByte = scan.cutAtZeroByte;
    report.cleared = fate.cleared || (fate.change && !fate.baudRate);
    report.readBack = fate.readBack;
    report.change = fate.change;
    report.baudRate = fate.baudRate;
    report.foundLineSettings = QString::fromLatin1(scan.place.lineSettings);
    if (fate.change && !isSuccess(fate.change->outcome) && fate.change->failedReply != FrameReply::Kind::Good)
        report.failedReply = fate.change->failedReply;
    else if (!scan.complete())
        report.failedReply = scan.failedReply;
    if (fate.change && !fate.baudRate && !report.readBack)
        report.readBack = fate.change->customerRegister;
    return report;
}

QJsonObject moduleJson(const ModuleReport &report, bool asRecord)
{
    const ModuleRecord &record = report.record;
    QJsonObject object = recordJson(record,
                                    {RecordField::Port, RecordField::LineSettings, RecordField::SerialNumber,
                                     RecordField::Version, RecordField::CustomerRegister},
                                    false);
    object.insert(QStringLiteral("device"), report.device);
    object.insert(QStringLiteral("message"), report.message);
    if (asRecord) {
        const QJsonObject more = recordJson(
            record, {RecordField::Time, RecordField::Outcome, RecordField::Station, RecordField::DurationMs}, false);
        for (auto it = more.begin(); it != more.end(); ++it)
            object.insert(it.key(), it.value());
    }
    if (report.failedReply != FrameReply::Kind::Good)
        object.insert(QStringLiteral("failed_reply"), QString::fromLatin1(replyKindKey(report.failedReply)));
    // What a value holds that a reader must know of: bytes that are no text, or the end a zero byte cut off.
    QJsonArray control;
    QJsonArray cut;
    const std::pair<RecordField, std::pair<std::optional<QString>, bool>> values[] = {
        {RecordField::SerialNumber, {record.serialNumber, report.cutAtZeroByte.serialNumber}},
        {RecordField::Version, {record.version, report.cutAtZeroByte.version}},
        {RecordField::CustomerRegister, {record.customerRegister, report.cutAtZeroByte.customerRegister}},
    };
    for (const auto &[field, value] : values) {
        if (holdsControlCharacters(value.first))
            control.append(recordFieldName(field));
        if (value.second)
            cut.append(recordFieldName(field));
    }
    if (!control.isEmpty())
        object.insert(QStringLiteral("control_characters"), control);
    if (!cut.isEmpty())
        object.insert(QStringLiteral("cut_at_zero_byte"), cut);
    if (const std::optional<ChangeReport> &change = report.change) {
        if (change->confirmed)
            object.insert(QStringLiteral("confirmed"), *change->confirmed);
        object.insert(QStringLiteral("acknowledged_late"), change->acknowledgedLate);
        if (change->outcome == Outcome::ModuleChanged)
            object.insert(QStringLiteral("answered_serial_number"), QString::fromLatin1(change->answeredSerialNumber));
        if (report.baudRate)
            object.insert(QStringLiteral("previous_line_settings"), report.foundLineSettings);
    }
    if (report.cleared)
        object.insert(QStringLiteral("customer_register_read_back"), jsonValue(report.readBack));
    return object;
}

namespace {

QStringList panelLines(const ModuleReport &report, const ConsoleTool &tool, bool cutSaid)
{
    const ModuleRecord &record = report.record;
    const QString joint = QStringLiteral(" : ");
    const auto cut = [cutSaid](bool cutShort) {
        return cutSaid && cutShort ? QStringLiteral(" (cut short at a zero byte)") : QString();
    };
    return {tool.message(Message::SerialNumber) + joint + printable(record.serialNumber.toLatin1())
                + cut(report.cutAtZeroByte.serialNumber),
            tool.message(Message::Version) + joint + shownValue(bytesOf(record.version))
                + cut(report.cutAtZeroByte.version),
            tool.message(Message::Customer) + joint + shownValue(bytesOf(record.customerRegister))
                + cut(report.cutAtZeroByte.customerRegister)};
}

} // namespace

QStringList moduleLines(const ModuleReport &report, const ConsoleTool &tool)
{
    return panelLines(report, tool, true)
           << tool.message(Message::BaudRate) + QStringLiteral(" : ") + report.foundLineSettings;
}

QString moduleLine(const ModuleReport &report, const ConsoleTool &tool)
{
    const ModuleRecord &record = report.record;
    QStringList parts{report.record.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), record.port,
                      record.lineSettings};
    parts << panelLines(report, tool, false) << report.message;
    return parts.join(QStringLiteral("  "));
}
