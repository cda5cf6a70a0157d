#include "line_settings.h"

#include <QList>

const char *const kLineSettingsTable[kLineSettingsCount] = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",   "9600,e,8,1",
    "19200,n,8,1", "19200,e,8,1", "38400,n,8,1",  "38400,e,8,1",
    "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1",
};

namespace {

constexpr qint32 kMaxBaudRate = 4000000;

bool parseNumber(const QByteArray &field, int low, int high, int &value)
{
    if (field.isEmpty() || field.size() > 7)
        return false;
    for (char c : field) {
        if (c < '0' || c > '9')
            return false;
    }
    value = field.toInt();
    return value >= low && value <= high;
}

} // namespace

std::optional<LineSettings> parseLineSettings(const QByteArray &text)
{
    const QList<QByteArray> fields = text.split(',');
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings settings;
    int baud = 0;
    if (!parseNumber(fields[0], 1, kMaxBaudRate, baud))
        return std::nullopt;
    settings.baudRate = baud;
    const QByteArray parity = fields[1].toLower();
    if (parity != "n" && parity != "e")
        return std::nullopt;
    settings.parity = parity[0];
    if (!parseNumber(fields[2], 5, 8, settings.dataBits))
        return std::nullopt;
    if (!parseNumber(fields[3], 1, 2, settings.stopBits))
        return std::nullopt;
    return settings;
}
