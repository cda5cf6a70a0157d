#pragma once

#include "module_port.h"
#include "serial_device.h"

#include <QByteArray>
#include <QString>

#include <functional>

class ConsoleOutput;

// The progress line for one open attempt: "trying COM3 at 19200,e,8,1" while searching, "opening ..."
// for the port of the module found, with the reason when it did not open.
QString openProgressLine(const PortStatus &status, const QByteArray &lineSettings, bool opened, bool searching,
                         int language);

// The module port as the console program hands it to the operations: every open is told as progress,
// and while a search may be cut short a stop request turns further opens into failures, so Ctrl-C
// ends a scan within one port's requests.
class TracedPort final : public SerialDevice {
public:
    // language: the index the texts of the scan report are read in.
    TracedPort(ModulePort &port, ConsoleOutput &output, std::function<int()> language)
        : m_port(port), m_output(output), m_language(std::move(language))
    {
    }

    bool open(int portNumber, const QByteArray &lineSettings) override;
    PortStatus lastOpenStatus() const override { return m_status; }
    void close() override { m_port.close(); }
    void writeByte(char value) override { m_port.writeByte(value); }
    void writeBlock(const char *bytes, int count) override { m_port.writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

    void setStoppable(bool on);
    bool stoppedAnOpen() const { return m_stoppedAnOpen; }
    void setQuiet(bool on) { m_quiet = on; }

private:
    ModulePort &m_port;
    ConsoleOutput &m_output;
    std::function<int()> m_language;
    PortStatus m_status;
    bool m_stoppable = false;
    bool m_stoppedAnOpen = false;
    bool m_quiet = false;
};
