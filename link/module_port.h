#pragma once

#include "clock.h"
#include "line_settings.h"
#include "serial_device.h"

#include <memory>

class QSerialPort;

// The one serial port of the process, opened and closed inside each module operation.
class ModulePort final : public SerialDevice {
public:
    explicit ModulePort(Clock &clock);
    ~ModulePort() override;
    ModulePort(const ModulePort &) = delete;
    ModulePort &operator=(const ModulePort &) = delete;

    bool open(int portNumber, const QByteArray &lineSettings) override;
    void close() override;
    void writeByte(char value) override;
    void writeBlock(const char *bytes, int count) override;
    bool readByte(char &value) override;
    void discardInput() override;

    PortStatus lastOpenStatus() const override { return m_status; }
    PortProblem lastProblem() const { return m_status.problem; }

    bool isOpen() const;
    // What the last open asked of the device for its line-settings string, in the string's terms
    // (parity 'o' for odd); nothing when the string did not parse.
    std::optional<LineSettings> requestedLineSettings() const { return m_requested; }

private:
    void writeNow(const char *bytes, int count);

    struct Private;
    std::unique_ptr<Private> d;
    Clock &m_clock;
    PortStatus m_status;
    std::optional<LineSettings> m_requested;
};
