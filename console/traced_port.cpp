#include "traced_port.h"

#include "console_output.h"
#include "message_table.h"
#include "scan_report.h"

QString openProgressLine(const PortStatus &status, const QByteArray &lineSettings, bool opened, bool searching,
                         int language)
{
    const int portNumber = status.portNumber;
    // "trying" while a module is looked for; "opening" for the port of the module found. In Chinese the window's
    // own words for both: "Scan COM" and "Open COM".
    QString line = language == 0
        ? QStringLiteral("%1 COM%2 at %3")
              .arg(searching ? QStringLiteral("trying") : QStringLiteral("opening"))
              .arg(portNumber)
              .arg(QString::fromLatin1(lineSettings))
        : QStringLiteral("%1 COM%2 %3")
              .arg(messageText(searching ? Message::ScanCom : Message::OpenCom, language))
              .arg(portNumber)
              .arg(QString::fromLatin1(lineSettings));
    if (opened && status.problem != PortProblem::None) {
        // A pseudo-terminal refuses parity, a UART a baud rate it cannot make: the port is open all the same.
        line += QStringLiteral(" (%1)").arg(reportText(ReportText::LineSettingsRefused, language));
    } else if (!opened) {
        // The scan report's own words for the port; the device where it is more than the port's name.
        ScanPortEntry entry;
        entry.status = status;
        const QString device = status.devicePath.isEmpty() ? reportText(ReportText::NoDevice, language)
                                                           : deviceBesidePort(status);
        if (!device.isEmpty())
            line += QStringLiteral(" (%1)").arg(device);
        line += QStringLiteral(": ") + portStateText(entry, language);
    }
    return line;
}

bool TracedPort::open(int portNumber, const QByteArray &lineSettings)
{
    const bool opened = m_port.open(portNumber, lineSettings);
    m_status = m_port.lastOpenStatus();
    m_status.portNumber = portNumber;
    if (!m_state.quiet)
        m_output.progress(openProgressLine(m_status, lineSettings, opened, m_state.searching, m_state.language));
    return opened;
}
