#pragma once

#include <QList>
#include <QString>

// The device behind "COMn": empty when the number names no device.
// Read afresh at every call, so a changed environment or link takes effect at the next open.
QString devicePathForPort(int portNumber);

// The numbers that have a COMn link of their own, in any order; empty where ports have no links.
QList<int> portNumbersWithLinks();
