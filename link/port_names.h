#pragma once

#include <QList>
#include <QString>

// "COM3": the name the tool gives a port number, on every platform.
QString portName(int portNumber);

// The device behind "COMn": empty when the number names no device.
// Read afresh at every call, so a changed environment or link takes effect at the next open.
QString devicePathForPort(int portNumber);

// The number a device path goes by (--port /dev/ttyUSB0): the COMn that names it already, else a number of
// its own above every COMn, named so for the rest of the run. 0 when the path names no device.
int portNumberForDevice(const QString &devicePath);

// The numbers that have a COMn link of their own, in any order; empty where ports have no links.
QList<int> portNumbersWithLinks();
