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

int portNumberForDevice(const QString &devicePath)
{
    // "COM7", "\\\\.\\COM7": Windows names its serial ports by number already.
    QString name = devicePath;
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    bool ok = false;
    const int n = name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? name.mid(3).toInt(&ok) : 0;
    return ok && n > 0 ? n : 0;
}
