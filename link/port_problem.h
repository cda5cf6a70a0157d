#pragma once

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

// Why a port could not be used. Every open attempt ends in exactly one of these; open() itself
// still answers only yes or no, and the reason is kept beside it.
enum class PortProblem {
    None,                // opened (or, for a probe, could be opened now)
    NoSuchPort,          // no device for this number: no link and no table entry, a link to nothing, no node
    NotATerminal,        // the node is not a character device that is a terminal
    PermissionDenied,    // the user may not read and write the device
    Busy,                // held by another program or another copy of the tool
    HungUpOrIoError,     // the device went away or failed while being opened or used
    LineSettingsRefused, // opened, but the line settings were not taken; the port is open all the same
    StaleSimulatorLink,  // the COMn link was left by a virtual module that is gone: its device is not ours
};

// What one open attempt (or probe) found. Fields the platform does not tell stay empty or zero.
struct PortStatus {
    int portNumber = 0;
    QString devicePath;    // what the number mapped to; empty when it maps to nothing
    PortProblem problem = PortProblem::None;
    qint64 holderPid = 0;  // the process that holds the device, where the platform tells it cheaply
    QString holderName;    // that process's command name
    int systemError = 0;   // errno on Linux, GetLastError() on Windows; 0 when none applies
    // With PermissionDenied, where the platform has them: the device's owner, group and permission bits.
    QString deviceOwner;
    QString deviceGroup;
    int deviceMode = -1;
};

// A fixed lower-case word per reason, for logs, JSON and scripts: "ok", "no-such-port", "not-a-terminal",
// "permission-denied", "busy", "hung-up-or-io-error", "line-settings-refused", "stale-simulator-link".
QLatin1String portProblemKey(PortProblem problem);

// Can COMn be opened now? Maps the number, checks the node, opens it for as long as the check needs
// and closes it again; sends nothing and changes no line settings. problem None means "ok".
PortStatus probePort(int portNumber);
