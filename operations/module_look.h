#pragma once

#include <QByteArray>

class ModuleCommands;
class SerialDevice;

// What one look at the place where a module was found saw.
enum class LookResult {
    SameModule,      // it answered with its serial number
    OtherModule,     // another module answered there
    Silent,          // the port opened, and not one frame came
    SomethingCame,   // frames came, but no clean serial number (noise, a late or damaged reply): someone is there
    DeviceGone,      // the device has gone with the module (an adapter on the fixture's cable, a link removed)
    PortUnavailable, // busy (another program looks at it for a moment), permission...: nothing seen either way
};

// Opens the port, asks the serial number up to twice, closes it again.
LookResult lookAtPlace(SerialDevice &port, ModuleCommands &commands, int portNumber, const QByteArray &lineSettings,
                       const QByteArray &serialNumber);
