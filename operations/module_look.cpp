#include "module_look.h"

#include "module_commands.h"
#include "port_problem.h"
#include "serial_device.h"

namespace {

constexpr int kLookAttempts = 2;

} // namespace

LookResult lookAtPlace(SerialDevice &port, ModuleCommands &commands, int portNumber, const QByteArray &lineSettings,
                       const QByteArray &serialNumber)
{
    if (!port.open(portNumber, lineSettings)) {
        switch (port.lastOpenStatus().problem) {
        case PortProblem::NoSuchPort:
        case PortProblem::NotATerminal:
        case PortProblem::HungUpOrIoError:
        case PortProblem::StaleSimulatorLink:
            return LookResult::DeviceGone;
        default:
            return LookResult::PortUnavailable;
        }
    }
    commands.portOpened();
    LookResult result = LookResult::Silent;
    for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
        const CommandResult reply = commands.readSerialNumber();
        if (reply.ok) {
            result = reply.value == serialNumber ? LookResult::SameModule : LookResult::OtherModule;
            break;
        }
        // A bad check, a reply to an earlier request, a reply of the wrong length: not the silence of a
        // module gone.
        if (reply.reply != FrameReply::Kind::TimedOut)
            result = LookResult::SomethingCame;
    }
    port.close();
    return result;
}
