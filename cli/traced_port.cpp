#include "traced_port.h"

#include "console_output.h"
#include "console_platform.h"

bool TracedPort::open(int portNumber, const QByteArray &lineSettings)
{
    if (m_stoppable && stopRequested()) {
        m_stoppedAnOpen = true;
        return false;
    }
    OpenAttempt attempt;
    attempt.lineSettings = lineSettings;
    attempt.opened = m_port.open(portNumber, lineSettings);
    attempt.status = m_port.lastOpenStatus();
    attempt.status.portNumber = portNumber;
    if (!m_quiet) {
        // "trying" while a module is looked for; "opening" for the port of the module found.
        QString line = QStringLiteral("%1 COM%2 at %3")
                           .arg(m_stoppable ? QStringLiteral("trying") : QStringLiteral("opening"))
                           .arg(portNumber)
                           .arg(QString::fromLatin1(lineSettings));
        // A pseudo-terminal refuses parity, a UART a baud rate it cannot make: the port is open all the same.
        if (attempt.opened && attempt.status.problem != PortProblem::None)
            line += QStringLiteral(" (opened; %1)").arg(portProblemText(attempt.status));
        else if (!attempt.opened)
            line += QStringLiteral(": %1").arg(portProblemText(attempt.status))
                    + (attempt.status.devicePath.isEmpty() ? QString()
                                                           : QStringLiteral(" (%1)").arg(attempt.status.devicePath));
        m_output.progress(line);
    }
    m_attempts.push_back(attempt);
    return attempt.opened;
}

void TracedPort::forgetAttempts()
{
    m_attempts.clear();
    m_stoppedAnOpen = false;
}

QString portProblemText(const PortStatus &status)
{
    switch (status.problem) {
    case PortProblem::None:
        return QStringLiteral("opened");
    case PortProblem::NoSuchPort:
        return QStringLiteral("no such port");
    case PortProblem::NotATerminal:
        return QStringLiteral("not a serial terminal");
    case PortProblem::PermissionDenied:
        return QStringLiteral("permission denied");
    case PortProblem::Busy:
        if (status.holderPid > 0)
            return QStringLiteral("busy (%1, pid %2)")
                .arg(status.holderName.isEmpty() ? QStringLiteral("?") : status.holderName)
                .arg(status.holderPid);
        return QStringLiteral("busy (held by another program)");
    case PortProblem::HungUpOrIoError:
        return QStringLiteral("hung up or I/O error");
    case PortProblem::LineSettingsRefused:
        return QStringLiteral("line settings refused");
    case PortProblem::StaleSimulatorLink:
        return QStringLiteral("no such port (link left by a virtual module that has gone)");
    }
    return QStringLiteral("cannot be opened");
}
