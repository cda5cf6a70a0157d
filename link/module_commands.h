#pragma once

#include "frame_layer.h"

#include <QByteArray>

struct CommandResult {
    bool ok = false;
    QByteArray value; // only meaningful when ok
    // What the frame layer got back; a good reply of the wrong length still leaves ok false.
    FrameReply::Kind reply = FrameReply::Kind::TimedOut;
    // A zero byte in the reply ended its text there: the value is cut short of what the module sent.
    bool cutAtZeroByte = false;
};

// Characters of a reply text by 1-based position (position 1 is the 0x0F), at most count.
QByteArray replyField(const QByteArray &replyText, int start, int count);

// The module's five commands, each a single request with no retry and no pause.
class ModuleCommands {
public:
    explicit ModuleCommands(FrameLayer &frames);

    CommandResult readSerialNumber();    // "S01", reply must be 15 bytes
    CommandResult readFirmwareVersion(); // "V01"
    CommandResult readCustomerRegister(); // "G06"
    CommandResult setModuleBaudRate(int index); // "E01" + code; index outside 0..11 sends nothing
    CommandResult clearCustomerRegister();      // "F06" + 32 asterisks

    // The port was opened afresh: no earlier request is owed a reply (see FrameLayer::forgetOwedReplies).
    void portOpened() { m_frames.forgetOwedReplies(); }

    // "E010" .. "E019", "E01A", "E01B"; empty for an index outside 0..11.
    static QByteArray baudRateCommand(int index);

private:
    CommandResult readValue(const QByteArray &command, int valueLength);
    CommandResult send(const QByteArray &command);

    FrameLayer &m_frames;
};
