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
                                           const std::function<void(const QByteArray &)> &versionRead,
                                           const std::function<bool()> &mayBegin)
{
    InformationRead read;
    if (!m_port.open(portNumber, lineSettings))
        return read;
    read.failure = ScanResult::InformationFailure::VersionUnanswered;
    for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
        m_clock.sleep(kPauseMs);
        if (attempt == 0 && mayBegin && !mayBegin()) {
            read.withdrawn = true;
            break;
        }
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

namespace {

// The module port and the device in front of it, for as long as one thread's search lasts.
class FrontedModulePort final : public SerialDevice {
public:
    FrontedModulePort(Clock &clock, const FrontPort &front) : m_port(clock), m_front(front(m_port)) {}

    bool open(int portNumber, const QByteArray &lineSettings) override { return m_front->open(portNumber, lineSettings); }
    PortStatus lastOpenStatus() const override { return m_front->lastOpenStatus(); }
    void close() override { m_front->close(); }
    void writeByte(char value) override { m_front->writeByte(value); }
    void writeBlock(const char *bytes, int count) override { m_front->writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_front->readByte(value); }
    void discardInput() override { m_front->discardInput(); }

private:
    ModulePort m_port;
    std::unique_ptr<SerialDevice> m_front; // declared after the port it talks to, so destroyed before it
};

} // namespace

std::unique_ptr<SerialDevice> makeModulePort(Clock &clock, const FrontPort &front)
{
    if (!front)
        return std::make_unique<ModulePort>(clock);
    return std::make_unique<FrontedModulePort>(clock, front);
}

SearchPort::SearchPort(std::unique_ptr<SerialDevice> device, Clock &clock)
    : m_device(std::move(device)), m_frames(*m_device, clock)
{
}
