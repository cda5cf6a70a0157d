#pragma once

#include <QByteArray>
#include <QString>
#include <array>

// The 26 messages in English (ASCII), simplified Chinese (GB2312) and traditional Chinese (BIG5).
class MessageTable {
public:
    static constexpr int kMessageCount = 26;
    static constexpr int kLanguageCount = 3;

    MessageTable(); // builds and decodes all 78 entries once

    // The stored bytes, in the column's code page.
    const QByteArray &entry(int message, int language) const;
    // The same text decoded for display; a language outside 0..2 gives the English text.
    const QString &text(int message, int language) const;

private:
    std::array<QByteArray, kMessageCount * kLanguageCount> m_bytes;
    std::array<QString, kMessageCount * kLanguageCount> m_texts;
};
