#include "frame_layer.h"

#include <QTime>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcLink, "modulebench.link", QtWarningMsg)

namespace {

// "12:00:01.250 tx 0F 53 30 31 ... |.S01..|": wall time, direction, bytes in hexadecimal and as text.
void logFrame(const char *direction, const QByteArray &bytes, const char *note = "")
{
    QByteArray text = bytes;
    for (char &c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '.';
    }
    const QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ')
        + QLatin1String(direction) + QLatin1Char(' ') + QString::fromLatin1(bytes.toHex(' ').toUpper())
        + QStringLiteral(" |") + QString::fromLatin1(text) + QLatin1Char('|') + QLatin1String(note);
    qCDebug(lcLink, "%s", qPrintable(line));
}

} // namespace

FrameLayer::FrameLayer(SerialDevice &port, Clock &clock) : m_port(port), m_clock(clock) {}

FrameLayer::FrameLayer(SerialDevice &port, Clock &clock, std::uint32_t waitMs, bool ownRepliesOnly)
    : m_port(port), m_clock(clock), m_waitMs(waitMs), m_ownRepliesOnly(ownRepliesOnly)
{
}

void FrameLayer::setIdleCallback(std::function<void()> callback)
{
    m_idle = std::move(callback);
}

std::uint8_t FrameLayer::frameCheck(const QByteArray &text)
{
    std::uint8_t check = static_cast<std::uint8_t>(kStartByte);
    for (char c : text)
        check ^= static_cast<std::uint8_t>(c);
    return check;
}

QByteArray FrameLayer::checkDigits(std::uint8_t check)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QByteArray digits(2, '0');
    digits[0] = kDigits[check >> 4];
    digits[1] = kDigits[check & 0x0F];
    return digits;
}

QByteArray FrameLayer::buildFrame(const QByteArray &text)
{
    QByteArray frame;
    frame.reserve(text.size() + 4);
    frame.append(kStartByte);
    frame.append(text);
    frame.append(checkDigits(frameCheck(text)));
    frame.append(kEndByte);
    return frame;
}

int FrameLayer::requestCodeIndex(const QByteArray &code)
{
    static const char *const kCodes[kRequestCodes] = {"S01", "V01", "G06", "E01", "F06"};
    for (int i = 0; i < kRequestCodes; ++i) {
        if (code == kCodes[i])
            return i;
    }
    return -1;
}

bool FrameLayer::isRequestCode(const QByteArray &code)
{
    return requestCodeIndex(code) >= 0;
}

bool FrameLayer::takeByte(char byte, QByteArray &text)
{
    if (byte == kStartByte)
        m_replyLength = 0;
    m_replyBuffer[static_cast<std::size_t>(m_replyLength)] = byte;
    if (++m_replyLength == kReplyBufferSize)
        m_replyLength = 0;
    if (byte != kEndByte || m_replyBuffer[0] != kStartByte)
        return false;
    m_replyBuffer[static_cast<std::size_t>(m_replyLength)] = 0;
    const auto end = std::find(m_replyBuffer.begin(), m_replyBuffer.end(), '\0');
    text = QByteArray(m_replyBuffer.data(), static_cast<int>(end - m_replyBuffer.begin()));
    return true;
}

void FrameLayer::settleOwedReplies()
{
    char byte = 0;
    QByteArray text;
    // Only what is there already: each byte that waits comes at once, the first missing one ends it.
    for (int taken = 0; taken < kReplyBufferSize * 4; ++taken) {
        const std::uint32_t before = m_clock.milliseconds();
        if (!m_port.readByte(byte) || m_clock.milliseconds() != before)
            break;
        if (!takeByte(byte, text))
            continue;
        const int index = requestCodeIndex(text.mid(1, 3));
        if (index >= 0 && m_owed[static_cast<std::size_t>(index)] > 0)
            --m_owed[static_cast<std::size_t>(index)];
        forgetFrame();
    }
    m_port.discardInput();
}

void FrameLayer::forgetFrame()
{
    m_replyBuffer.fill(0);
    m_replyLength = 0;
}

FrameReply FrameLayer::request(const QByteArray &command)
{
    FrameReply reply;
    // The length travels nowhere, but a longer text is not a command of this module.
    if (command.size() > kMaxCommandLength)
        return reply;

    const QByteArray digits = checkDigits(frameCheck(command));
    const QByteArray ownCode = command.left(3);
    const int ownIndex = requestCodeIndex(ownCode);

    // A late reply to an earlier command must not pass for this one's.
    if (m_ownRepliesOnly)
        settleOwedReplies();
    else
        m_port.discardInput();
    forgetFrame();
    m_port.writeByte(kStartByte);
    m_port.writeBlock(command.constData(), static_cast<int>(command.size()));
    m_port.writeByte(digits[0]);
    m_port.writeByte(digits[1]);
    // Nothing that arrives before the end byte went out can answer this request.
    if (m_ownRepliesOnly)
        settleOwedReplies();
    else
        m_port.discardInput();
    forgetFrame();
    m_port.writeByte(kEndByte);
    // Read once per command: a disabled category costs one test here, none in the byte loop.
    const bool logging = lcLink().isDebugEnabled();
    if (logging)
        logFrame("tx", buildFrame(command));

    bool otherRequestAnswered = false;
    const std::uint32_t start = m_clock.milliseconds();
    for (;;) {
        // A reply that came within the time-out while this thread was held up (a loaded machine, the
        // window's events) is waiting when it looks again: the look after the time-out still takes bytes
        // that are there already, and ends at the first one it has to wait for.
        const std::uint32_t before = m_clock.milliseconds();
        const bool timedOut = before - start >= m_waitMs;
        char byte = 0;
        const bool got = m_port.readByte(byte);
        const bool alreadyThere = got && m_clock.milliseconds() == before;
        QByteArray text;
        if (got) {
            if (takeByte(byte, text)) {
                const QByteArray code = text.mid(1, 3);
                const int index = requestCodeIndex(code);
                // With ownRepliesOnly, the first frame of this code answers the earlier request still owed one.
                const bool owed = m_ownRepliesOnly && index >= 0 && m_owed[static_cast<std::size_t>(index)] > 0;
                if (owed)
                    --m_owed[static_cast<std::size_t>(index)];
                if (owed || (code != ownCode && index >= 0)) {
                    // The reply to an earlier request that came too late for it: this one's may still come.
                    if (logging)
                        logFrame("rx", QByteArray(m_replyBuffer.data(), m_replyLength), " answers another request");
                    otherRequestAnswered = true;
                    forgetFrame();
                } else {
                    const bool good = replyCheckHolds();
                    if (logging)
                        logFrame("rx", QByteArray(m_replyBuffer.data(), m_replyLength), good ? "" : " bad check");
                    reply.kind = good ? FrameReply::Kind::Good : FrameReply::Kind::BadCheck;
                    reply.text = text;
                    reply.length = m_replyLength;
                    return reply;
                }
            }
        } else if (m_idle) {
            m_idle();
        }
        // Also after a byte: a device that streams without pause must not hold the tool.
        if (timedOut && !alreadyThere)
            break;
    }
    if (logging)
        logFrame("rx", QByteArray(m_replyBuffer.data(), m_replyLength),
                 qPrintable(QStringLiteral(" no complete reply within %1 ms").arg(m_waitMs)));
    // Its reply may still come: the next frame of its code is that one's.
    if (m_ownRepliesOnly && ownIndex >= 0)
        ++m_owed[static_cast<std::size_t>(ownIndex)];
    reply.kind = otherRequestAnswered ? FrameReply::Kind::OtherRequest : FrameReply::Kind::TimedOut;
    reply.length = m_replyLength;
    return reply;
}

bool FrameLayer::replyCheckHolds() const
{
    const int length = m_replyLength;
    if (length < 4)
        return false;
    std::uint8_t check = 0;
    for (int i = 0; i <= length - 4; ++i)
        check ^= static_cast<std::uint8_t>(m_replyBuffer[static_cast<std::size_t>(i)]);
    const QByteArray digits = checkDigits(check);
    return m_replyBuffer[static_cast<std::size_t>(length - 3)] == digits[0]
        && m_replyBuffer[static_cast<std::size_t>(length - 2)] == digits[1];
}
