#pragma once

#include "cli_options.h"
#include "console_output.h"
#include "console_view.h"
#include "module_session.h"
#include "move_confirmation.h"
#include "traced_port.h"

#include <QString>

struct ModuleReading {
    enum class Outcome { Complete, InformationError, NotFound, NoPort, Interrupted };
    Outcome outcome = Outcome::NotFound;
    int portNumber = 0;
    QString devicePath;
    QByteArray lineSettings;
    // Empty when not read.
    QString serialNumber;
    QString version;
    QString customerRegister;
    QString message; // the status panel's last text
    ScanReport report; // what the scan did at each port it came to
    ScanResult scan;   // the scan's own result, everything it knows
};

struct OperationResult {
    bool accepted = false;
    QString message; // the status panel's last text
    ChangeOutcome outcome = ChangeOutcome::NoScan;
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
};

// The tool as the console program assembles it: the window's session, its port reporting every open,
// with the console view in the window's place.
class ConsoleTool {
public:
    ConsoleTool(const CliOptions &options, ConsoleOutput &output);
    ConsoleTool(const ConsoleTool &) = delete;
    ConsoleTool &operator=(const ConsoleTool &) = delete;

    // The window's scan. quietWhenAbsent: no progress and no beep unless a module answers.
    ModuleReading scan(bool quietWhenAbsent = false);
    // The window's baud-rate change to a line-settings index, and its clearing; both need a scan first.
    OperationResult setBaudRate(int index);
    OperationResult clearCustomerRegister();
    // The scan with every port of `ports` searched at the same time (each as the serial search would
    // search it). everyModule: every port searched to its end and one reading per module, no quick attempt;
    // otherwise the first module that answers wins. Without a module, one reading that says why; a search
    // for every module cut short by Ctrl-C ends with an Interrupted reading after the modules it read.
    QList<ModuleReading> scanParallel(const QList<int> &ports, bool everyModule);
    // After an accepted change: the module looked for at the new line settings, and stored there once it
    // answers (when store is on).
    MoveConfirmation confirmMove(int index, const QString &serialNumber, bool store = true);
    // One look at the port and line settings of the last module found. Only silence from a port that
    // opened, another module's serial number or the device gone mean the module has gone; a busy port
    // or a reply with a bad check (noise) tells nothing.
    enum class Presence { StillThere, Gone, Unknown };
    Presence lookAgain(const QString &serialNumber);
    // In memory only: the next scan looks at these line settings (with the lock box checked).
    void useLineSettings(int index);
    // Whether a search that finds the module stores where (watch --port stores nothing).
    void setStoreFound(bool on) { m_storeFound = on; }
    TracedPort &port() { return *m_traced; }
    // The stored settings afresh, as at a start of the program (ModuleFound false).
    void reloadSettings();

    QString message(Message m) const { return m_session.message(m); }
    const SettingsStore &settings() const { return m_session.settings(); }
    ModuleSession &session() { return m_session; }

private:
    ModuleSession::Parts sessionParts();

    const CliOptions m_options;
    bool m_storeFound = true;
    ConsoleOutput &m_output;
    TracedPort *m_traced = nullptr; // owned by the session
    ModuleSession m_session{sessionParts()};
    ConsoleView m_view{m_session.tones()};
};
