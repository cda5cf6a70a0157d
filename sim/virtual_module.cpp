#include "virtual_module.h"

#include "frame_layer.h"
#include "line_settings.h"

namespace {

const QByteArray kClearCommand = QByteArray("F06") + QByteArray(32, '*');
constexpr int kRegisterLength = 30;

} // namespace

std::vector<Request> RequestReader::feed(const QByteArray &bytes)
{
    std::vector<Request> requests;
    for (char b : bytes) {
        if (b == FrameLayer::kStartByte) {
            m_frame = QByteArray(1, b);
            m_inFrame = true;
            continue;
        }
        if (!m_inFrame)
            continue;
        m_frame.append(b);
        if (b == FrameLayer::kEndByte) {
            Request request;
            request.frame = m_frame;
            // 0x0F, text, two check digits, 0x0D: anything shorter than four bytes cannot hold.
            if (m_frame.size() >= 4) {
                request.text = m_frame.mid(1, m_frame.size() - 4);
                const QByteArray digits = m_frame.mid(m_frame.size() - 3, 2);
                request.checkHolds = digits == FrameLayer::checkDigits(FrameLayer::frameCheck(request.text));
            }
            requests.push_back(request);
            m_frame.clear();
            m_inFrame = false;
        } else if (m_frame.size() >= kMaxFrameLength) {
            m_frame.clear();
            m_inFrame = false;
        }
    }
    return requests;
}

VirtualModule::VirtualModule(const ModuleIdentity &identity, const ModuleFaults &faults)
    : m_identity(identity)
    , m_faults(faults)
{
}

int VirtualModule::baudCodeIndex(char code)
{
    if (code >= '0' && code <= '9')
        return code - '0';
    if (code == 'A' || code == 'B')
        return code - 'A' + 10;
    return -1;
}

QByteArray VirtualModule::noiseBytes()
{
    return QByteArray("\x55\x00\xAA\x0D\x7E", 5);
}

QByteArray VirtualModule::replyFrame(const QByteArray &text) const
{
    std::uint8_t check = FrameLayer::frameCheck(text);
    if (m_faults.badCheck)
        check ^= 0x5A;
    QByteArray digits = FrameLayer::checkDigits(check);
    if (m_faults.lowercaseCheck)
        digits = digits.toLower();
    return FrameLayer::kStartByte + text + digits + FrameLayer::kEndByte;
}

std::optional<QByteArray> VirtualModule::replyText(const QByteArray &text, Answer &answer)
{
    if (text == "S01") {
        QByteArray serial = m_identity.serialNumber;
        // The frame is 15 bytes with the 8-character serial; one less or one more on demand.
        if (m_faults.serialFrameLength == 14)
            serial.chop(1);
        else if (m_faults.serialFrameLength == 16)
            serial.append('0');
        return text + serial;
    }
    if (text == "V01")
        return text + m_identity.firmwareVersion;
    if (text == "G06")
        return text + m_identity.customerRegister;
    if (text.size() == 4 && text.startsWith("E01")) {
        const int index = baudCodeIndex(text.at(3));
        if (index < 0)
            return std::nullopt;
        answer.newLineSettings = index;
        return text;
    }
    if (text == kClearCommand) {
        m_identity.customerRegister = QByteArray(kRegisterLength, '*');
        answer.note = "customer register cleared";
        return QByteArray("F06");
    }
    return std::nullopt;
}

Answer VirtualModule::answer(const QByteArray &text)
{
    Answer result;
    ++m_requestsHeard;
    if (m_faults.silent || m_stopped) {
        result.note = m_stopped ? QByteArray("silent after " + m_faults.silentAfter) : QByteArray("silent");
        return result;
    }
    if (m_requestsHeard < m_faults.answerFrom) {
        result.note = "request " + QByteArray::number(m_requestsHeard) + " before --answer-from "
            + QByteArray::number(m_faults.answerFrom);
        return result;
    }
    for (const QByteArray &ignored : m_faults.ignoredCommands) {
        if (text.startsWith(ignored)) {
            result.note = "ignoring " + ignored;
            return result;
        }
    }
    Answer reply;
    const std::optional<QByteArray> replied = replyText(text, reply);
    if (!replied) {
        result.note = "unknown command";
        return result;
    }
    reply.bytes = replyFrame(*replied);
    if (!m_faults.silentAfter.isEmpty() && text.startsWith(m_faults.silentAfter))
        m_stopped = true;
    if (m_faults.noise)
        reply.bytes.prepend(noiseBytes());
    if (reply.newLineSettings)
        reply.note = QByteArray("line settings ") + QByteArray::number(*reply.newLineSettings) + " \""
            + kLineSettingsTable[*reply.newLineSettings] + "\" after this reply";
    return reply;
}
