#include "port_listing.h"

#include "console_output.h"
#include "console_platform.h"
#include "final_object.h"
#include "outcomes.h"
#include "port_names.h"
#include "port_problem.h"
#include "scan_report.h"
#include "settings_store.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QSerialPortInfo>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 16;

struct PortLine {
    PortStatus status;
    QString kind;
    QJsonObject usb; // vendor, product and serial number where the platform reports them
};

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

// What the platform tells of the device: USB identity, its own description, or a kind from the path.
void describeDevice(PortLine &line, const std::function<const QList<QSerialPortInfo> &()> &known)
{
    const QString path = line.status.devicePath;
    if (path.isEmpty())
        return;
    line.kind = deviceKindFromPath(path);
    if (!line.kind.isEmpty())
        return;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QSerialPortInfo &info : known()) {
        const QString location = info.systemLocation();
        if (location != path && (canonical.isEmpty() || QFileInfo(location).canonicalFilePath() != canonical))
            continue;
        QStringList parts;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            parts << QStringLiteral("USB %1:%2").arg(hex4(info.vendorIdentifier()), hex4(info.productIdentifier()));
            line.usb.insert(QStringLiteral("vendor_id"), hex4(info.vendorIdentifier()));
            line.usb.insert(QStringLiteral("product_id"), hex4(info.productIdentifier()));
        }
        for (const auto &[key, value] : {std::pair{QStringLiteral("manufacturer"), info.manufacturer()},
                                         std::pair{QStringLiteral("product"), info.description()},
                                         std::pair{QStringLiteral("serial_number"), info.serialNumber()}}) {
            if (value.isEmpty())
                continue;
            line.usb.insert(key, value);
            parts << (key == QLatin1String("serial_number") ? QStringLiteral("serial ") + value : value);
        }
        line.kind = parts.isEmpty() ? QStringLiteral("serial port") : parts.join(QStringLiteral(", "));
        return;
    }
}

// "ok", or the scan report's own words for the port's state ("no such port", "held by another program (minicom,
// process 4711)"...), so ports and a scan say the same thing of the same port. The fix for a permission
// problem is said once, after the list.
QString stateText(const PortStatus &status, int language)
{
    switch (status.problem) {
    case PortProblem::None:
    case PortProblem::LineSettingsRefused: // the probe applies none; the device opened
        return QStringLiteral("ok");
    case PortProblem::PermissionDenied:
        return QStringLiteral("permission denied");
    default:
        break;
    }
    ScanPortEntry entry;
    entry.status = status;
    return portStateText(entry, language);
}

QJsonObject portRecord(const PortLine &line)
{
    const PortStatus &status = line.status;
    QJsonObject record{{QStringLiteral("port"), QStringLiteral("COM%1").arg(status.portNumber)},
                       {QStringLiteral("device"), status.devicePath},
                       {QStringLiteral("kind"), line.kind},
                       {QStringLiteral("state"), status.problem == PortProblem::LineSettingsRefused
                                                     ? QStringLiteral("ok")
                                                     : QString(portProblemKey(status.problem))}};
    if (!line.usb.isEmpty())
        record.insert(QStringLiteral("usb"), line.usb);
    if (status.holderPid > 0) {
        record.insert(QStringLiteral("holder_pid"), status.holderPid);
        record.insert(QStringLiteral("holder_name"), status.holderName);
    }
    return record;
}

} // namespace

int runPorts(const CliOptions &options, ConsoleOutput &output)
{
    // --port: those ports, in the order given.
    QList<int> numbers = options.ports;
    if (numbers.isEmpty()) {
        for (int n = kFirstPort; n <= kLastPort; ++n)
            numbers << n;
        for (int n : portNumbersWithLinks()) {
            if (!numbers.contains(n))
                numbers << n;
        }
        std::sort(numbers.begin(), numbers.end());
    }

    // The platform's list walks every terminal of the system: only when a device needs describing.
    std::optional<QList<QSerialPortInfo>> known;
    const auto knownPorts = [&known]() -> const QList<QSerialPortInfo> & {
        if (!known)
            known = QSerialPortInfo::availablePorts();
        return *known;
    };
    SettingsStore settings;
    settings.loadSettings();
    const int language = options.storedLanguage ? settings.languageIndex() : 0;
    std::vector<PortLine> lines;
    for (int n : numbers) {
        PortLine line;
        line.status = probePort(n);
        describeDevice(line, knownPorts);
        lines.push_back(line);
    }

    int deviceWidth = 0;
    int stateWidth = 0;
    for (const PortLine &line : lines) {
        deviceWidth = std::max(deviceWidth, int(deviceBesidePort(line.status).size()));
        stateWidth = std::max(stateWidth, int(stateText(line.status, language).size()));
    }
    // The device column only where a device is more than its port's name (not on Windows).
    for (const PortLine &line : lines) {
        const QString text = QStringLiteral("COM%1").arg(line.status.portNumber).leftJustified(6)
                             + (deviceWidth > 0 ? deviceBesidePort(line.status).leftJustified(deviceWidth + 2) : QString())
                             + (line.kind.isEmpty() ? stateText(line.status, language)
                                                    : stateText(line.status, language).leftJustified(stateWidth + 2) + line.kind);
        output.result(portRecord(line), {text.trimmed()});
    }
    // The fix in words, once for each kind of refusal, in the language the results are given in.
    QStringList hints;
    for (const PortLine &line : lines) {
        if (line.status.problem != PortProblem::PermissionDenied)
            continue;
        QString hint = permissionDeniedText(line.status, language);
        // The group dialout is one fix for every such port; an owner and a mode belong to one device.
        if (line.status.deviceGroup != QLatin1String("dialout"))
            hint = portLabel(line.status, language) + QStringLiteral(": ") + hint;
        if (!hints.contains(hint))
            hints << hint;
    }
    for (const QString &hint : hints)
        output.diagnostic(hint);
    const int count = int(lines.size());
    output.result(finalObject(CliCommand::Ports, Outcome::Ok,
                              QStringLiteral("%1 port%2").arg(count).arg(count == 1 ? QString() : QStringLiteral("s")),
                              {{QStringLiteral("port_count"), count}}),
                  {});
    return exitStatusOf(Outcome::Ok);
}
