#include "port_names.h"

// QSerialPort adds the \\.\ prefix itself, which COM10 and above need.
QString devicePathForPort(int portNumber)
{
    if (portNumber < 1)
        return {};
    return QStringLiteral("COM%1").arg(portNumber);
}

QList<int> portNumbersWithLinks()
{
    return {};
}
