#include "move_confirmation.h"

#include "clock.h"
#include "line_settings.h"
#include "module_commands.h"
#include "serial_device.h"

#include <cstdint>

MoveConfirmation confirmMovedModule(SerialDevice &port, ModuleCommands &commands, Clock &clock,
                                    const MoveTarget &target)
{
    const int portNumber = target.portNumber;
    const int lineSettingsIndex = target.lineSettingsIndex;
    const QByteArray &serialNumber = target.serialNumber;
    MoveConfirmation result;
    if (lineSettingsIndex < 0 || lineSettingsIndex >= kLineSettingsCount)
        return result;
    const QByteArray lineSettings = kLineSettingsTable[lineSettingsIndex];
    const std::uint32_t start = clock.milliseconds();
    for (;;) {
        clock.sleep(kMoveConfirmPauseMs);
        const bool opened = port.open(portNumber, lineSettings);
        result.lastOpen = port.lastOpenStatus();
        result.lastOpen.portNumber = portNumber;
        if (opened) {
            commands.portOpened();
            const CommandResult reply = commands.readSerialNumber();
            ++result.requests;
            port.close();
            if (reply.ok && reply.value == serialNumber) {
                result.confirmed = true;
                result.serialNumber = reply.value;
            }
        }
        // Unsigned, so the counter's wrap-around neither ends nor prolongs the wait.
        result.elapsedMs = int(std::uint32_t(clock.milliseconds() - start));
        if (result.confirmed || result.elapsedMs >= target.windowMs)
            break;
    }
    return result;
}
