#pragma once

#include "clock.h"
#include "serial_device.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <array>
#include <cstdint>
#include <functional>

// Every frame sent and received, with its time, at debug level (off unless enabled, e.g.
// QT_LOGGING_RULES="modulebench.link.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// Request frames out, checked reply frames in: 0x0F, text, two check digits, 0x0D.
// Holds the reply state of the process (buffer, length, last reply text).
class FrameLayer {
public:
    static constexpr char kStartByte = 0x0F;
    static constexpr char kEndByte = 0x0D;
    static constexpr int kReplyBufferSize = 1024;
    static constexpr int kMaxCommandLength = 255;
    static constexpr std::uint32_t kReplyTimeoutMs = 250;

    FrameLayer(SerialDevice &port, Clock &clock);

    // Runs after every read that found nothing; the window processes its pending messages here.
    void setIdleCallback(std::function<void()> callback);

    // True only for a completed reply frame whose check holds.
    bool sendCommand(const QByteArray &command);

    // The last completed frame from its 0x0F to its 0x0D (cut at a zero byte), and its length.
    const QByteArray &replyText() const { return m_replyText; }
    int replyLength() const { return m_replyLength; }

    // XOR of 0x0F and every text byte.
    static std::uint8_t frameCheck(const QByteArray &text);
    // Two upper-case hexadecimal digits, high nibble first.
    static QByteArray checkDigits(std::uint8_t check);
    // The whole request frame for a command text.
    static QByteArray buildFrame(const QByteArray &text);

private:
    bool replyCheckHolds() const;

    SerialDevice &m_port;
    Clock &m_clock;
    std::function<void()> m_idle;
    std::array<char, kReplyBufferSize> m_replyBuffer{};
    int m_replyLength = 0;
    QByteArray m_replyText;
};
