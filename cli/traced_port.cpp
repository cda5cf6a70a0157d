#include "traced_port.h"

#include "console_output.h"
#include "console_platform.h"
#include "scan_report.h"

QString openProgressLine(const PortStatus &status, const QByteArray &lineSettings, bool opened, bool searching,
                         int language)
{
    const int portNumber = status.portNumber;
    // "trying" while a module is looked for; "opening" for the port of the module found.
    QString line = QStringLiteral("%1 COM%2 at %3")
                       .arg(searching ? QStringLiteral("trying") : QStringLiteral("opening"))
                       .arg(portNumber)
                       .arg(QString::fromLatin1(lineSettings));
    if (opened && status.problem != PortProblem::None) {
        // A pseudo-terminal refuses parity, a UART a baud rate it cannot make: the port is open all the same.
        line += QStringLiteral(" (%1)").arg(reportText(ReportText::LineSettingsRefused, language));
    } else if (!opened) {
        // The scan report's own words for the port, without its "COMn (device): " that the line already names.
        ScanPortEntry entry;
        entry.status = status;
        const QString said = scanReportLine(entry, language);
        const QString device = status.devicePath.isEmpty() ? reportText(ReportText::NoDevice, language)
                                                           : status.devicePath;
        const QString prefix = QStringLiteral("COM%1 (%2): ").arg(portNumber).arg(device);
        line += QStringLiteral(" (%1): %2").arg(device, said.startsWith(prefix) ? said.mid(prefix.size()) : said);
    }
    return line;
}

void TracedPort::setStoppable(bool on)
{
    m_stoppable = on;
    if (on)
        m_stoppedAnOpen = false;
}

bool TracedPort::open(int portNumber, const QByteArray &lineSettings)
{
    if (m_stoppable && stopRequested()) {
        m_stoppedAnOpen = true;
        m_status = PortStatus{};
        m_status.portNumber = portNumber;
        return false;
    }
    const bool opened = m_port.open(portNumber, lineSettings);
    m_status = m_port.lastOpenStatus();
    m_status.portNumber = portNumber;
    if (m_quiet)
        return opened;

    m_output.progress(openProgressLine(m_status, lineSettings, opened, m_stoppable, m_language()));
    return opened;
}

namespace {

constexpr char kFrameStart = 0x0F;

// The clearing ("F06...") and the baud-rate change ("E01x").
bool changesTheModule(const char *bytes, int count)
{
    const QByteArray text(bytes, count);
    return text.startsWith("F06") || text.startsWith("E01");
}

} // namespace

void TracedPort::writeByte(char value)
{
    if (m_heldBack)
        return;
    if (m_guardChanges && value == kFrameStart && !m_startPending) {
        m_startPending = true;
        m_start = value;
        return;
    }
    m_port.writeByte(value);
}

void TracedPort::writeBlock(const char *bytes, int count)
{
    if (m_heldBack)
        return;
    const bool change = changesTheModule(bytes, count);
    if (m_guardChanges && change && !m_changeWritten && stopRequested()) {
        m_heldBack = true;
        m_startPending = false;
        return;
    }
    if (m_startPending) {
        m_startPending = false;
        m_port.writeByte(m_start);
    }
    m_changeWritten |= change;
    m_port.writeBlock(bytes, count);
}
