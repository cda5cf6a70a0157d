#include "port_problem.h"

#include "port_guard.h"
#include "port_names.h"

QLatin1String portProblemKey(PortProblem problem)
{
    switch (problem) {
    case PortProblem::None:
        return QLatin1String("ok");
    case PortProblem::NoSuchPort:
        return QLatin1String("no-such-port");
    case PortProblem::NotATerminal:
        return QLatin1String("not-a-terminal");
    case PortProblem::PermissionDenied:
        return QLatin1String("permission-denied");
    case PortProblem::Busy:
        return QLatin1String("busy");
    case PortProblem::HungUpOrIoError:
        return QLatin1String("hung-up-or-io-error");
    case PortProblem::LineSettingsRefused:
        return QLatin1String("line-settings-refused");
    case PortProblem::StaleSimulatorLink:
        return QLatin1String("stale-simulator-link");
    }
    return QLatin1String("hung-up-or-io-error");
}

PortStatus probePort(int portNumber)
{
    PortStatus status;
    status.portNumber = portNumber;
    status.devicePath = devicePathForPort(portNumber);
    if (status.devicePath.isEmpty()) {
        status.problem = PortProblem::NoSuchPort;
        return status;
    }
    // The same checks as an open, without QSerialPort: nothing is applied to the line.
    PortGuard guard;
    guard.acquire(portNumber, status);
    guard.release();
    return status;
}
