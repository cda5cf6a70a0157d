#include "port_probe.h"

bool PortProbe::mayGoOn()
{
    if (m_stop.requested()) {
        m_stopped = true;
        return false;
    }
    return !(m_halted && m_halted());
}

bool PortProbe::open(int portNumber, const QByteArray &lineSettings, ScanPortEntry &entry)
{
    if (!mayGoOn())
        return false;
    const bool opened = m_port.open(portNumber, lineSettings);
    entry.status = m_port.lastOpenStatus();
    entry.status.portNumber = portNumber;
    if (opened)
        entry.lineSettingsTried.append(lineSettings);
    return opened;
}

bool PortProbe::askSerialNumber(ScanPortEntry &entry, int attempts, QByteArray &serial)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!mayGoOn())
            return false;
        const CommandResult reply = m_commands.readSerialNumber();
        ++entry.requests;
        if (reply.ok) {
            entry.answered = true;
            serial = reply.value;
            m_serialCut = reply.cutAtZeroByte;
            return true;
        }
        if (reply.reply == FrameReply::Kind::BadCheck)
            ++entry.badChecks;
        else if (reply.reply == FrameReply::Kind::OtherRequest)
            ++entry.lateReplies;
    }
    return false;
}

InformationRead PortProbe::readInformation(int portNumber, const QByteArray &lineSettings,
                                           const std::function<void(const QByteArray &)> &versionRead)
{
    InformationRead read;
    if (!m_port.open(portNumber, lineSettings))
        return read;
    read.failure = ScanResult::InformationFailure::VersionUnanswered;
    for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
        m_clock.sleep(kPauseMs);
        const CommandResult version = m_commands.readFirmwareVersion();
        if (!version.ok) {
            read.failedReply = version.reply;
            continue;
        }
        read.version = version.value;
        read.versionCutAtZeroByte = version.cutAtZeroByte;
        read.failedReply = FrameReply::Kind::Good;
        m_clock.sleep(kPauseMs);
        if (versionRead)
            versionRead(version.value);
        // One customer-register request only: a failure here ends the read.
        const CommandResult customer = m_commands.readCustomerRegister();
        if (customer.ok) {
            read.customerRegister = customer.value;
            read.customerCutAtZeroByte = customer.cutAtZeroByte;
            read.failure = ScanResult::InformationFailure::None;
        } else {
            read.failure = ScanResult::InformationFailure::CustomerUnanswered;
            read.failedReply = customer.reply;
        }
        break;
    }
    m_port.close();
    return read;
}

SearchPort::SearchPort(const FrontPort &front)
    : m_front(front ? front(m_port) : nullptr)
    , m_frames(device(), m_clock)
{
}
