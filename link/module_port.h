#pragma once

#include "clock.h"
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

    bool isOpen() const;
    PortError lastError() const { return m_lastError; }

private:
    void writeNow(const char *bytes, int count);

    struct Private;
    std::unique_ptr<Private> d;
    Clock &m_clock;
    PortError m_lastError = PortError::None;
};
