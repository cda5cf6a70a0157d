#pragma once

#include "module_port.h"
#include "serial_device.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class ConsoleOutput;

struct OpenAttempt {
    PortStatus status; // the port number, its device and, for a failed open, why
    QByteArray lineSettings;
    bool opened = false;
};

// The module port as the console program hands it to the operations: every open is told as progress
// and remembered, and while a search may be cut short a stop request turns further opens into failures,
// so Ctrl-C ends a scan within one port's requests.
class TracedPort final : public SerialDevice {
public:
    TracedPort(ModulePort &port, ConsoleOutput &output) : m_port(port), m_output(output) {}

    bool open(int portNumber, const QByteArray &lineSettings) override;
    PortStatus lastOpenStatus() const override { return m_port.lastOpenStatus(); }
    void close() override { m_port.close(); }
    void writeByte(char value) override { m_port.writeByte(value); }
    void writeBlock(const char *bytes, int count) override { m_port.writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

    void setStoppable(bool on) { m_stoppable = on; }
    bool stoppedAnOpen() const { return m_stoppedAnOpen; }
    void setQuiet(bool on) { m_quiet = on; }

    void forgetAttempts();
    const std::vector<OpenAttempt> &attempts() const { return m_attempts; }

private:
    ModulePort &m_port;
    ConsoleOutput &m_output;
    std::vector<OpenAttempt> m_attempts;
    bool m_stoppable = false;
    bool m_stoppedAnOpen = false;
    bool m_quiet = false;
};

// "permission denied", "busy (minicom, pid 4711)"... for one failed open.
QString portProblemText(const PortStatus &status);
