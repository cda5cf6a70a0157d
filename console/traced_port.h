#pragma once

#include "module_port.h"
#include "serial_device.h"

#include <QByteArray>
#include <QString>

#include <atomic>

class ConsoleOutput;

// The progress line for one open attempt: "trying COM3 at 19200,e,8,1" while searching, "opening ..."
// for the port of the module found, with the reason when it did not open.
QString openProgressLine(const PortStatus &status, const QByteArray &lineSettings, bool opened, bool searching,
                         int language);

// What every traced port of a run prints by: the scan's language, whether a search is looking (the
// module not found yet) and whether the opens are told at all. Read by the ports of a parallel search
// from their own threads.
struct ProgressState {
    std::atomic<int> language{0};
    std::atomic<bool> searching{false};
    std::atomic<bool> quiet{false};
};

// The module port as the console program hands it to the operations: every open is told as progress.
class TracedPort final : public SerialDevice {
public:
    TracedPort(ModulePort &port, ConsoleOutput &output, const ProgressState &state)
        : m_port(port), m_output(output), m_state(state)
    {
    }

    bool open(int portNumber, const QByteArray &lineSettings) override;
    PortStatus lastOpenStatus() const override { return m_status; }
    void close() override { m_port.close(); }
    void writeByte(char value) override { m_port.writeByte(value); }
    void writeBlock(const char *bytes, int count) override { m_port.writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

private:
    ModulePort &m_port;
    ConsoleOutput &m_output;
    const ProgressState &m_state;
    PortStatus m_status;
};
