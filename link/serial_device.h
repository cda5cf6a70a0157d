#pragma once

#include "port_problem.h"

#include <QByteArray>

// The byte-level port the frame layer talks through. ModulePort is the real one;
// tests put a scripted port in its place.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // True when the device could be opened. A line-settings text that does not parse
    // leaves the device's line settings as they were and still gives true.
    virtual bool open(int portNumber, const QByteArray &lineSettings) = 0;
    // What the last open attempt found: the device the number mapped to and, when it failed (or
    // opened without taking the line settings, or the line was lost while open), why.
    // Ports that cannot fail report nothing.
    virtual PortStatus lastOpenStatus() const { return {}; }
    // Only after an open that returned true; puts back what the port had before.
    virtual void close() = 0;

    // Each write goes out at once, then pauses: 1 ms after a byte, 5 ms after a block.
    virtual void writeByte(char value) = 0;
    virtual void writeBlock(const char *bytes, int count) = 0;

    // A waiting byte returns at once; otherwise false after about 1 ms.
    virtual bool readByte(char &value) = 0;
    // Drops whatever input is already waiting.
    virtual void discardInput() = 0;
};
