#include "port_names.h"

QString portName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}
