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
    void writeByte(char value) override;
    void writeBlock(const char *bytes, int count) override;
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

    void setStoppable(bool on);
    bool stoppedAnOpen() const { return m_stoppedAnOpen; }
    void setQuiet(bool on) { m_quiet = on; }

    // With guardChanges on, a stop request that comes before a command that changes the module (the
    // clearing, the baud-rate change) keeps that command and everything after it off the line; one that
    // comes after lets the operation finish.
    void setGuardChanges(bool on) { m_guardChanges = on; m_heldBack = false; m_changeWritten = false; }
    bool changeHeldBack() const { return m_heldBack; }
    bool changeWritten() const { return m_changeWritten; }

private:
    ModulePort &m_port;
    ConsoleOutput &m_output;
    std::function<int()> m_language;
    PortStatus m_status;
    bool m_stoppable = false;
    bool m_stoppedAnOpen = false;
    bool m_quiet = false;
    bool m_guardChanges = false;
    bool m_heldBack = false;
    bool m_changeWritten = false;
    // A frame's start byte waits for the command text after it, so a frame held back leaves no byte behind.
    bool m_startPending = false;
    char m_start = 0;
};
