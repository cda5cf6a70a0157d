#pragma once

#include "cli_options.h"
#include "clock.h"
#include "console_output.h"
#include "console_view.h"
#include "frame_layer.h"
#include "message_table.h"
#include "module_commands.h"
#include "move_confirmation.h"
#include "module_operations.h"
#include "module_port.h"
#include "settings_store.h"
#include "tone_player.h"
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
};

struct OperationResult {
    bool accepted = false;
    QString message; // the status panel's last text
};

// The tool as the console program assembles it: the window's parts (clock, module port, frame layer,
// command set, settings store, message table, tone player) with the console view in the window's place.
class ConsoleTool {
public:
    ConsoleTool(const CliOptions &options, ConsoleOutput &output);
    ConsoleTool(const ConsoleTool &) = delete;
    ConsoleTool &operator=(const ConsoleTool &) = delete;

    // The window's scan. quietWhenAbsent: no progress and no beep unless a module answers.
    ModuleReading scan(bool quietWhenAbsent = false);
    // The scan with every port of `ports` searched at the same time (each as the serial search would
    // search it). everyModule: every port searched to its end and one reading per module, no quick attempt;
    // otherwise the first module that answers wins. Without a module, one reading that says why.
    QList<ModuleReading> scanParallel(const QList<int> &ports, bool everyModule);
    // The window's baud-rate change to a line-settings index, and its clearing; both need a scan first.
    OperationResult setBaudRate(int index);
    OperationResult clearCustomerRegister();
    // One look at the port and line settings of the last module found. Only silence from a port that
    // opened, another module's serial number or the device gone mean the module has gone; a busy port
    // tells nothing.
    enum class Presence { StillThere, Gone, Unknown };
    Presence lookAgain(const QString &serialNumber);
    // In memory only: the next scan looks at these line settings (with the lock box checked).
    void useLineSettings(int index);
    // Whether a search that finds the module stores where (watch --port stores nothing).
    void setStoreFound(bool on) { m_storeFound = on; }
    TracedPort &port() { return m_traced; }
    // After an accepted change: the module looked for at the new line settings, and stored there once it
    // answers (when store is on).
    MoveConfirmation confirmMove(int index, const QString &serialNumber, bool store = true);
    // The stored settings afresh, as at a start of the program (ModuleFound false).
    void reloadSettings();

    QString message(int k) const;
    const SettingsStore &settings() const { return m_settings; }

private:
    OperationContext context();

    const CliOptions m_options;
    bool m_storeFound = true;
    ConsoleOutput &m_output;
    SystemClock m_clock;
    ModulePort m_port{m_clock};
    TracedPort m_traced{m_port, m_output, [this] { return m_settings.languageIndex; }};
    FrameLayer m_frames{m_traced, m_clock};
    ModuleCommands m_commands{m_frames};
    SettingsStore m_settings;
    MessageTable m_messages;
    TonePlayer m_tones;
    ConsoleView m_view{m_tones};
};
