#pragma once

#include <QByteArray>
#include <optional>

constexpr int kLineSettingsCount = 12;
constexpr int kDefaultLineSettingsIndex = 5; // "19200,e,8,1"

// The twelve line settings of the drop-down list, index 0 to 11.
extern const char *const kLineSettingsTable[kLineSettingsCount];

struct LineSettings {
    qint32 baudRate = 0;
    char parity = 'n'; // 'n' none, 'e' even
    int dataBits = 8;
    int stopBits = 1;
};

// "19200,e,8,1" -> its fields; nothing for a text that does not parse.
std::optional<LineSettings> parseLineSettings(const QByteArray &text);
