// Arbitrary line traffic for the reply collector, with every outcome checked against a
// separate reading of the frame rules. Built as a libFuzzer target with clang, and run
// over the stored corpus by a plain sanitized test.
//
// Input: one or more exchanges, each a settings byte followed by the bytes the module side
// sends. 0xFE escapes: FE FE a literal FE; FE FD the next exchange starts; FE FC everything
// before it in this exchange was already waiting before the request; FE FB and FE FA the
// two check digits, upper or lower case, of the bytes from the last 0x0F on (so that good
// frames are easy to come by); FE k (k below FA) the line stays quiet for k ms. Bytes of an
// exchange left unread wait before the next request.
//
// Settings byte: bits 0-2 the operation (0 serial number, 1 version, 2 customer register,
// 3 baud rate, 4 clearing, 5 a bare "S01", 6 a bare command of 256 or 255 characters, 7 an
// empty command), bit 3 the millisecond counter wraps around close to the request, bits
// 4-5 ms per received byte, bits 6-7 a variant (baud-rate index, where the counter wraps,
// length of the long command).

#include "frame_layer.h"
#include "module_commands.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t kEscape = 0xFE;
constexpr std::uint8_t kNextExchange = 0xFD;
constexpr std::uint8_t kRequestPoint = 0xFC;
constexpr std::uint8_t kUpperCheck = 0xFB;
constexpr std::uint8_t kLowerCheck = 0xFA;
constexpr int kMaxExchanges = 8;
constexpr char kStart = 0x0F;
constexpr char kEnd = 0x0D;
constexpr int kBufferSize = 1024;
constexpr std::uint32_t kTimeoutMs = 250;

int g_exchange = 0;

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "reply collector fault in exchange %d: %s\n", g_exchange, what);
    std::fflush(stderr);
    std::abort();
}

// The check digits written out from the frame rules, not borrowed from the frame layer.
QByteArray upperHexCheck(const QByteArray &bytes)
{
    unsigned check = 0;
    for (char c : bytes)
        check ^= static_cast<unsigned char>(c);
    const char *digits = "0123456789ABCDEF";
    QByteArray out;
    out.append(digits[(check >> 4) & 0x0F]);
    out.append(digits[check & 0x0F]);
    return out;
}

QByteArray requestFrame(const QByteArray &text)
{
    QByteArray frame(1, kStart);
    frame += text;
    frame += upperHexCheck(frame);
    frame += kEnd;
    return frame;
}

class FuzzClock final : public Clock {
public:
    std::uint32_t milliseconds() override { return m_now; }
    void sleep(int ms) override { m_now += static_cast<std::uint32_t>(ms); }
    void set(std::uint32_t now) { m_now = now; }

private:
    std::uint32_t m_now = 0;
};

struct LineEvent {
    bool quiet = false; // true: the line says nothing for `ms` milliseconds
    char byte = 0;
    int ms = 0;
};

struct ReadRecord {
    bool got = false;
    char byte = 0;
    bool waitedBeforeRequest = false;
    std::uint32_t clockBefore = 0;
    std::uint32_t clockAfter = 0;
};

// Bytes waiting before the request, then the module's side of the line once the whole
// request has gone out. Every read is recorded with the counter's value after it.
class FuzzPort final : public SerialDevice {
public:
    explicit FuzzPort(FuzzClock &clock) : m_clock(clock) {}

    void prepare(const QByteArray &waiting, std::deque<LineEvent> incoming, const QByteArray &request,
                 int byteTimeMs)
    {
        m_waiting = waiting;
        m_incoming = std::move(incoming);
        m_expectedRequest = request;
        m_written.clear();
        m_released = m_expectedRequest.isEmpty();
        m_releaseClock = m_clock.milliseconds();
        m_byteTime = byteTimeMs;
        m_reads.clear();
        m_readsBeforeRelease = 0;
        // Each read moves the counter or takes a byte: far more reads than bytes and
        // milliseconds of the wait means the wait does not end.
        m_readLimit = static_cast<std::size_t>(m_waiting.size() + m_incoming.size()) + 4 * kTimeoutMs;
    }

    bool open(int, const QByteArray &) override { return true; }
    void close() override {}
    void writeByte(char value) override { write(QByteArray(1, value), 1); }
    void writeBlock(const char *bytes, int count) override
    {
        require(count >= 0, "negative block length written");
        write(QByteArray(bytes, count), 5);
    }
    bool readByte(char &value) override
    {
        require(m_reads.size() < m_readLimit, "still waiting long after the time-out");
        if (!m_released)
            ++m_readsBeforeRelease;
        ReadRecord record;
        record.clockBefore = m_clock.milliseconds();
        if (!m_waiting.isEmpty()) {
            record.got = true;
            record.byte = m_waiting.front();
            record.waitedBeforeRequest = true;
            m_waiting.remove(0, 1);
            m_clock.sleep(m_byteTime);
        } else if (m_released && !m_incoming.empty() && !m_incoming.front().quiet) {
            record.got = true;
            record.byte = m_incoming.front().byte;
            m_incoming.pop_front();
            m_clock.sleep(m_byteTime);
        } else {
            if (m_released && !m_incoming.empty() && --m_incoming.front().ms <= 0)
                m_incoming.pop_front();
            m_clock.sleep(1);
        }
        record.clockAfter = m_clock.milliseconds();
        m_reads.push_back(record);
        if (record.got)
            value = record.byte;
        return record.got;
    }
    void discardInput() override { m_waiting.clear(); }

    // What the module side sent and nobody read: it waits before the next request.
    QByteArray leftover() const
    {
        QByteArray rest = m_waiting;
        for (const LineEvent &event : m_incoming) {
            if (!event.quiet)
                rest += event.byte;
        }
        return rest;
    }

    const QByteArray &written() const { return m_written; }
    const std::vector<ReadRecord> &reads() const { return m_reads; }
    int readsBeforeRelease() const { return m_readsBeforeRelease; }
    std::uint32_t releaseClock() const { return m_releaseClock; }

private:
    // The write, then its pause; the request counts as out once its last pause is over.
    void write(const QByteArray &bytes, int pauseMs)
    {
        require(!m_released || m_expectedRequest.isEmpty(), "a write after the whole request had gone out");
        m_written += bytes;
        m_clock.sleep(pauseMs);
        if (m_written == m_expectedRequest) {
            m_released = true;
            m_releaseClock = m_clock.milliseconds();
        }
    }

    FuzzClock &m_clock;
    QByteArray m_waiting;
    std::deque<LineEvent> m_incoming;
    QByteArray m_expectedRequest;
    QByteArray m_written;
    bool m_released = false;
    std::uint32_t m_releaseClock = 0;
    int m_byteTime = 0;
    std::vector<ReadRecord> m_reads;
    std::size_t m_readLimit = 0;
    int m_readsBeforeRelease = 0;
};

// What the collector must have made of the reads it did, worked out from the frame rules.
struct Expected {
    bool completed = false;
    bool good = false;
    FrameReply::Kind kind = FrameReply::Kind::TimedOut;
    int length = 0;       // ReplyLength afterwards
    QByteArray frame;     // the completed frame's bytes (completed only)
    QByteArray text;      // ReplyText afterwards (completed only)
};

// The reply codes of the module's requests; a frame that begins with another one than the request's is passed over.
bool answersAnotherRequest(const QByteArray &text, const QByteArray &command)
{
    const QByteArray code = text.mid(1, 3);
    const bool requestCode = code == "S01" || code == "V01" || code == "G06" || code == "E01" || code == "F06";
    return requestCode && code != command.left(3);
}

Expected expectedOutcome(const FuzzPort &port, const QByteArray &command)
{
    Expected out;
    const std::vector<ReadRecord> &reads = port.reads();
    require(!reads.empty(), "returned without reading the port");
    require(port.readsBeforeRelease() == 0, "read the port before the request had gone out");

    int position = 0;     // the next receive position
    bool inFrame = false; // a start byte sits at position 0
    QByteArray current;   // bytes from that start byte on
    bool otherRequest = false; // a frame answering another request was passed over
    for (std::size_t k = 0; k < reads.size(); ++k) {
        const ReadRecord &read = reads[k];
        const bool last = k + 1 == reads.size();
        if (read.got) {
            require(!read.waitedBeforeRequest, "read a byte that was waiting before the request");
            const char b = read.byte;
            if (b == kStart) {
                position = 0;
                inFrame = true;
                current.clear();
            }
            position = (position + 1) % kBufferSize;
            if (inFrame) {
                current += b;
                // The 1025th byte lands on position 0, over the start byte.
                if (current.size() > kBufferSize) {
                    inFrame = false;
                    current.clear();
                }
            }
            if (b == kEnd && inFrame) {
                QByteArray text;
                // 1024 bytes: the closing zero lands on position 0, and the text is empty.
                if (position != 0) {
                    const int zero = static_cast<int>(current.indexOf('\0'));
                    text = zero < 0 ? current : current.left(zero);
                }
                if (answersAnotherRequest(text, command)) {
                    // Passed over: the collector starts afresh and waits on.
                    otherRequest = true;
                    position = 0;
                    inFrame = false;
                    current.clear();
                } else {
                    require(last, "read on after a frame had completed");
                    out.completed = true;
                    out.length = position;
                    out.frame = current;
                    out.text = text;
                    const int size = static_cast<int>(current.size());
                    out.good = out.length >= 4
                        && current.mid(size - 3, 2) == upperHexCheck(current.left(size - 3));
                    out.kind = out.good ? FrameReply::Kind::Good : FrameReply::Kind::BadCheck;
                    return out;
                }
            }
        }
        // A read begun at the time-out or later ends the wait, unless it took a byte without the counter
        // moving: a byte that was there already.
        const bool late = read.clockBefore - port.releaseClock() >= kTimeoutMs;
        if (late && !(read.got && read.clockAfter == read.clockBefore)) {
            require(last, "waited on after more than 250 ms");
            out.length = position;
            out.kind = otherRequest ? FrameReply::Kind::OtherRequest : FrameReply::Kind::TimedOut;
            return out;
        }
        require(!last, "gave up before 250 ms without a completed frame");
    }
    return out;
}

// The value cut from a good reply: from frame position 4 on, never beyond the reply text
// (its check digits and end byte) nor beyond a zero byte.
QByteArray expectedValue(const Expected &expected, int count)
{
    int textEnd = expected.length - 3;
    const int zero = static_cast<int>(expected.frame.indexOf('\0'));
    if (zero >= 0 && zero < textEnd)
        textEnd = zero;
    const int available = textEnd - 4;
    if (available <= 0)
        return {};
    return expected.frame.mid(4, available < count ? available : count);
}

void checkValue(const CommandResult &result, const Expected &expected, int count)
{
    if (!result.ok)
        return;
    require(result.value.size() <= count, "value longer than its field");
    require(!result.value.contains(kEnd), "value holds the end byte");
    require(!result.value.contains(kStart), "value holds a start byte");
    require(result.value == expectedValue(expected, count), "value is not the reply's field");
}

struct Exchange {
    std::uint8_t settings = 0;
    QByteArray before;
    std::deque<LineEvent> after;
};

std::vector<Exchange> parse(const std::uint8_t *data, std::size_t size)
{
    std::vector<Exchange> exchanges;
    std::size_t pos = 0;
    while (pos < size && static_cast<int>(exchanges.size()) < kMaxExchanges) {
        Exchange exchange;
        exchange.settings = data[pos++];
        while (pos < size) {
            const std::uint8_t b = data[pos++];
            if (b != kEscape) {
                exchange.after.push_back({false, static_cast<char>(b), 0});
                continue;
            }
            if (pos >= size)
                break;
            const std::uint8_t code = data[pos++];
            if (code == kNextExchange)
                break;
            if (code == kEscape) {
                exchange.after.push_back({false, static_cast<char>(kEscape), 0});
            } else if (code == kRequestPoint) {
                for (const LineEvent &event : exchange.after) {
                    if (!event.quiet)
                        exchange.before += event.byte;
                }
                exchange.after.clear();
            } else if (code == kUpperCheck || code == kLowerCheck) {
                QByteArray frame;
                for (auto it = exchange.after.rbegin(); it != exchange.after.rend(); ++it) {
                    if (it->quiet)
                        continue;
                    frame.prepend(it->byte);
                    if (it->byte == kStart)
                        break;
                }
                if (!frame.startsWith(kStart))
                    frame.prepend(kStart);
                QByteArray digits = upperHexCheck(frame);
                if (code == kLowerCheck)
                    digits = digits.toLower();
                for (char digit : digits)
                    exchange.after.push_back({false, digit, 0});
            } else if (code > 0) {
                exchange.after.push_back({true, 0, code});
            }
        }
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

void runExchange(const Exchange &exchange, FuzzClock &clock, FuzzPort &port, FrameLayer &frames,
                 ModuleCommands &commands, QByteArray &carried, int &idleCalls)
{
    const int operation = exchange.settings & 0x07;
    const bool nearWrap = (exchange.settings & 0x08) != 0;
    const int byteTime = (exchange.settings >> 4) & 0x03;
    const int variant = (exchange.settings >> 6) & 0x03;

    static const int kBaudIndex[4] = {5, 0, 10, 11};
    static const char kBaudCode[] = "0123456789AB";
    QByteArray command;
    switch (operation) {
    case 0: command = "S01"; break;
    case 1: command = "V01"; break;
    case 2: command = "G06"; break;
    case 3: command = QByteArray("E01") + kBaudCode[kBaudIndex[variant]]; break;
    case 4: command = QByteArray("F06") + QByteArray(32, '*'); break;
    case 5: command = "S01"; break;
    case 6: command = QByteArray(variant == 0 ? 256 : 255, 'A'); break;
    default: command = QByteArray(); break;
    }
    const bool refused = command.size() > 255;

    // Near the wrap, the counter passes 2^32 during the request or the wait.
    clock.set(nearWrap ? 0xFFFFFFFFu - 5u - 63u * static_cast<std::uint32_t>(variant) : 1000u);
    port.prepare(carried + exchange.before, exchange.after, refused ? QByteArray() : requestFrame(command),
                 byteTime);
    idleCalls = 0;

    // The commands give their result; a bare command gives the frame layer's whole reply.
    CommandResult result;
    FrameReply reply;
    const bool bare = operation >= 5;
    switch (operation) {
    case 0: result = commands.readSerialNumber(); break;
    case 1: result = commands.readFirmwareVersion(); break;
    case 2: result = commands.readCustomerRegister(); break;
    case 3: result = commands.setModuleBaudRate(kBaudIndex[variant]); break;
    case 4: result = commands.clearCustomerRegister(); break;
    default:
        reply = frames.request(command);
        result.ok = reply.good();
        result.reply = reply.kind;
        break;
    }
    const bool sent = result.ok;

    if (bare)
        require(reply.length >= 0 && reply.length < kBufferSize, "reply length outside 0..1023");

    if (refused) {
        require(!sent, "a command of more than 255 characters was accepted");
        require(port.written().isEmpty(), "a command of more than 255 characters was sent");
        require(port.reads().empty(), "waited for a reply to a refused command");
        require(reply.text.isEmpty(), "a refused command has a reply text");
        carried = port.leftover();
        return;
    }

    require(port.written() == requestFrame(command), "the request on the line is not the command's frame");
    const Expected expected = expectedOutcome(port, command);

    int emptyReads = 0;
    for (const ReadRecord &read : port.reads())
        emptyReads += read.got ? 0 : 1;
    require(idleCalls == emptyReads, "pending messages not processed exactly once per empty read");

    require(result.reply == expected.kind, "the kind of reply is not what came");
    if (bare) {
        require(reply.length == expected.length, "reply length is not the receive position");
        if (expected.completed) {
            require(reply.text == expected.text, "reply text is not the completed frame");
            require(reply.text.size() <= reply.length, "reply text longer than the reply");
            if (!reply.text.isEmpty())
                require(reply.text.front() == kStart, "reply text does not begin with the start byte");
        } else {
            require(reply.text.isEmpty(), "a reply text without a completed frame");
        }
    }

    switch (operation) {
    case 0:
        require(sent == (expected.good && expected.length == 15), "serial-number read accepted the wrong reply");
        checkValue(result, expected, 8);
        break;
    case 1:
        require(sent == expected.good, "version read disagrees with the reply's check");
        checkValue(result, expected, 8);
        break;
    case 2:
        require(sent == expected.good, "customer-register read disagrees with the reply's check");
        checkValue(result, expected, 30);
        break;
    default:
        require(sent == expected.good, "result disagrees with the reply's check");
        break;
    }
    if (sent) {
        require(expected.completed, "good without a completed frame");
        require(expected.length >= 4, "good for a frame of fewer than 4 bytes");
        if (bare)
            require(reply.text.endsWith(kEnd) || reply.text.size() < reply.length,
                    "good, but the reply text neither ends with the end byte nor stops at a zero byte");
    }
    carried = port.leftover();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<Exchange> exchanges = parse(data, size);
    FuzzClock clock;
    FuzzPort port(clock);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    int idleCalls = 0;
    frames.setIdleCallback([&idleCalls] { ++idleCalls; });

    QByteArray carried;
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        g_exchange = static_cast<int>(i) + 1;
        runExchange(exchanges[i], clock, port, frames, commands, carried, idleCalls);
    }
    return 0;
}
