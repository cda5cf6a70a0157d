#include "module_commands.h"

#include <algorithm>

namespace {

constexpr int kSerialReplyLength = 15;
constexpr int kValueStart = 5;
constexpr int kSerialNumberLength = 8;
constexpr int kVersionLength = 8;
constexpr int kCustomerLength = 30;
constexpr int kFrameTailLength = 3; // two check digits and the end byte

const QByteArray kClearCommand = QByteArray("F06") + QByteArray(32, '*');

// The reply without its check digits and end byte, so a short reply never lends them to a value.
// A zero byte in the text already cut ReplyText short of them.
QByteArray replyWithoutTail(const FrameReply &reply)
{
    const QByteArray &text = reply.text;
    const int textEnd = std::max(0, reply.length - kFrameTailLength);
    return text.left(std::min(static_cast<int>(text.size()), textEnd));
}

} // namespace

QByteArray replyField(const QByteArray &replyText, int start, int count)
{
    if (start < 1 || count <= 0 || replyText.size() < start)
        return {};
    return replyText.mid(start - 1, count);
}

ModuleCommands::ModuleCommands(FrameLayer &frames) : m_frames(frames) {}

CommandResult ModuleCommands::readSerialNumber()
{
    const FrameReply reply = m_frames.request("S01");
    CommandResult result;
    result.reply = reply.kind;
    result.ok = reply.good() && reply.length == kSerialReplyLength;
    if (result.ok) {
        result.value = replyField(replyWithoutTail(reply), kValueStart, kSerialNumberLength);
        result.cutAtZeroByte = reply.text.size() < reply.length;
    }
    return result;
}

CommandResult ModuleCommands::readFirmwareVersion()
{
    return readValue("V01", kVersionLength);
}

CommandResult ModuleCommands::readCustomerRegister()
{
    return readValue("G06", kCustomerLength);
}

// Any good reply counts; the value is whatever of its field the reply text holds.
CommandResult ModuleCommands::readValue(const QByteArray &command, int valueLength)
{
    const FrameReply reply = m_frames.request(command);
    CommandResult result;
    result.reply = reply.kind;
    result.ok = reply.good();
    if (result.ok) {
        result.value = replyField(replyWithoutTail(reply), kValueStart, valueLength);
        result.cutAtZeroByte = reply.text.size() < reply.length;
    }
    return result;
}

CommandResult ModuleCommands::send(const QByteArray &command)
{
    const FrameReply reply = m_frames.request(command);
    CommandResult result;
    result.reply = reply.kind;
    result.ok = reply.good();
    return result;
}

CommandResult ModuleCommands::setModuleBaudRate(int index)
{
    const QByteArray command = baudRateCommand(index);
    if (command.isEmpty())
        return {};
    return send(command);
}

CommandResult ModuleCommands::clearCustomerRegister()
{
    return send(kClearCommand);
}

QByteArray ModuleCommands::baudRateCommand(int index)
{
    if (index < 0 || index > 11)
        return {};
    return QByteArray("E01") + "0123456789AB"[index];
}
