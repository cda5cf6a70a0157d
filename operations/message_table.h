#pragma once

#include <QByteArray>
#include <QString>
#include <array>

// The messages by name; the number is the row in the table.
enum class Message : int {
    CompanyName = 0,        // "KAVOR Technology Corp.   " + web address
    Title = 1,              // the window's title
    ScanFirst = 2,          // "Start Scan Module!"
    CancelProcess = 3,
    Id = 4,
    BaudRate = 5,           // the list's label
    SetBaudRateButton = 6,  // btnBaudRate's caption
    ProcessModule = 7,
    Exit = 8,
    OpenCom = 9,
    Error = 10,
    ScanModule = 11,        // btnScan's caption, and the scan's first status text
    SerialNumber = 12,      // "S/N"
    SerialNo = 13,
    Version = 14,           // "VER"
    ScanCom = 15,           // "Scan COM"
    InfoOk = 16,            // "Get Module Info Ok. (COM"
    InfoError = 17,         // "Get Module Info Error. (COM"
    NotFound = 18,          // "Module Not Find"
    SetBaudRate = 19,       // "Set Module BaudRate"
    SetBaudRateOk = 20,
    SetBaudRateError = 21,
    Customer = 22,          // "Customer"
    ClearButton = 23,       // btnClear's caption
    ClearOk = 24,
    ClearError = 25,
};

// The 26 messages in English (ASCII), simplified Chinese (GB2312) and traditional Chinese (BIG5).
class MessageTable {
public:
    static constexpr int kMessageCount = 26;
    static constexpr int kLanguageCount = 3;

    // Builds the 78 entries; a Chinese column is decoded the first time one of its texts is asked for, so
    // that a window in English never loads the code-page converters.
    MessageTable();

    // The stored bytes, in the column's code page.
    const QByteArray &entry(int message, int language) const;
    // The same text decoded for display; a language outside 0..2 gives the English text.
    const QString &text(int message, int language) const;
    const QString &text(Message message, int language) const { return text(static_cast<int>(message), language); }

private:
    void decodeColumn(int language) const;

    std::array<QByteArray, kMessageCount * kLanguageCount> m_bytes;
    // Filled a column at a time; a table is used by one thread only.
    mutable std::array<QString, kMessageCount * kLanguageCount> m_texts;
    mutable std::array<bool, kLanguageCount> m_decoded{};
};

// A message's text from a table of the calling thread's own (a table is used by one thread only): for texts
// outside the window, such as the console program's progress, which the ports of a parallel search write from
// their threads.
const QString &messageText(Message message, int language);
