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

// What came back for one request.
struct FrameReply {
    enum class Kind {
        Good,         // a completed frame whose check holds
        BadCheck,     // a completed frame whose check does not hold: noise on the line, a damaged frame
        OtherRequest, // only frames answering another request of this module (a late reply) came
        TimedOut,     // no completed frame within the time-out
    };
    Kind kind = Kind::TimedOut;
    // The completed frame from its 0x0F to its 0x0D, cut at a zero byte (Good and BadCheck only).
    QByteArray text;
    // The receive position when the wait ended: the completed frame's length, or how far an
    // unfinished one came.
    int length = 0;

    bool good() const { return kind == Kind::Good; }
};

// Request frames out, checked reply frames in: 0x0F, text, two check digits, 0x0D.
class FrameLayer {
public:
    static constexpr char kStartByte = 0x0F;
    static constexpr char kEndByte = 0x0D;
    static constexpr int kReplyBufferSize = 1024;
    static constexpr int kMaxCommandLength = 255;
    static constexpr std::uint32_t kReplyTimeoutMs = 250;

    // How a look after a change waits: for the frame that answers its own request, longer than the
    // time-out, and never taking the reply an earlier request was still owed.
    static constexpr std::uint32_t kLookReplyDeadlineMs = 1000;

    FrameLayer(SerialDevice &port, Clock &clock);
    // waitMs instead of the 250 ms time-out. With ownRepliesOnly, a request that ended without its reply
    // is owed one: the next frame with its code, whenever it comes (in this request or a later one, before
    // the port is opened afresh), answers that request and is passed over.
    FrameLayer(SerialDevice &port, Clock &clock, std::uint32_t waitMs, bool ownRepliesOnly);

    // Runs after every read that found nothing; the window processes its pending messages here.
    void setIdleCallback(std::function<void()> callback);

    // Sends the command's frame and waits up to 250 ms for its reply. A frame that begins with the
    // code of another request of this module (S01, V01, G06, E01, F06) answers that request, not this
    // one: it is passed over and the wait goes on. Bytes already waiting when the wait is looked at after
    // its end are still read (a thread held up past the time-out must not lose a reply that came within
    // it). A command longer than 255 characters is not sent.
    FrameReply request(const QByteArray &command);

    // The port was opened afresh: whatever an earlier request was owed was lost with the old opening.
    void forgetOwedReplies() { m_owed.fill(0); }

    // The request codes of this module: the first three characters of every reply to them.
    static bool isRequestCode(const QByteArray &code);

    // XOR of 0x0F and every text byte.
    static std::uint8_t frameCheck(const QByteArray &text);
    // Two upper-case hexadecimal digits, high nibble first.
    static QByteArray checkDigits(std::uint8_t check);
    // The whole request frame for a command text.
    static QByteArray buildFrame(const QByteArray &text);

private:
    static constexpr int kRequestCodes = 5;
    // Index of a request code (S01, V01, G06, E01, F06), -1 for any other text.
    static int requestCodeIndex(const QByteArray &code);
    bool replyCheckHolds() const;
    // The receive buffer emptied, so the next frame starts afresh.
    void forgetFrame();
    // One received byte into the buffer; true when it completed a frame (its text in text).
    bool takeByte(char byte, QByteArray &text);
    // Instead of dropping what waits before a request (ownRepliesOnly): every frame already there pays
    // what its request was owed.
    void settleOwedReplies();

    SerialDevice &m_port;
    Clock &m_clock;
    std::function<void()> m_idle;
    std::array<char, kReplyBufferSize> m_replyBuffer{};
    int m_replyLength = 0;
    std::uint32_t m_waitMs = kReplyTimeoutMs;
    bool m_ownRepliesOnly = false;
    std::array<int, kRequestCodes> m_owed{}; // per request code: replies still to come for earlier requests
};
