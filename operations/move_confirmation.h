#pragma once

#include "port_problem.h"

#include <QByteArray>

class Clock;
class ModuleCommands;
class SerialDevice;

// A module that accepted a baud-rate change resets and comes back at the new line settings. It is
// asked for its serial number there, a 200 ms pause before each request, until it answers or 3 s
// have passed since the first pause began. Each request waits as long as the commands given let it: the
// console program's wait for the frame that answers it up to a second, so a module that answers late is
// still found; giving up then takes at most about 3.6 s (three requests when nothing answers).
constexpr int kMoveConfirmWindowMs = 3000;
constexpr int kMoveConfirmPauseMs = 200;

struct MoveConfirmation {
    bool confirmed = false;
    int requests = 0;         // serial-number requests sent at the new line settings
    int elapsedMs = 0;        // until the answer, or until it gave up
    QByteArray serialNumber;  // as the module answered at the new line settings
    PortStatus lastOpen;      // the last open attempt, to say why a port that would not open was not confirmed
};

// Where the moved module should now answer.
struct MoveTarget {
    int portNumber = 0;
    int lineSettingsIndex = -1;          // the new line settings, an index of the table
    QByteArray serialNumber;             // only this module counts
    int windowMs = kMoveConfirmWindowMs; // 0: one try only
};

// After an accepted baud-rate change: looks for the module at the target's port and line settings;
// each try opens the port, sends one serial-number request and closes it again, so a port that is
// briefly gone or busy while the module resets gets another chance, for the whole time. Another module's
// answer does not count. Runs on the thread that owns the port.
MoveConfirmation confirmMovedModule(SerialDevice &port, ModuleCommands &commands, Clock &clock,
                                    const MoveTarget &target);
