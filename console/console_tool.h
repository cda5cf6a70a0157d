#pragma once

#include "console_options.h"
#include "console_output.h"
#include "console_view.h"
#include "outcomes.h"
#include "module_session.h"
#include "traced_port.h"

#include <QString>

// The tool as the console program assembles it: the window's session, its ports reporting every open, with
// the console view in the window's place. What each operation found comes back as the session's typed
// result.
class ConsoleTool {
public:
    ConsoleTool(const CliOptions &options, ConsoleOutput &output, StopToken &stop);
    ConsoleTool(const ConsoleTool &) = delete;
    ConsoleTool &operator=(const ConsoleTool &) = delete;

    // The window's scan over the options' ports, one after the other or all at once (--parallel, --all).
    // quietWhenAbsent: no progress and no beep unless a module answers.
    ScanResult scan(bool quietWhenAbsent = false);
    // The window's baud-rate change to a line-settings index, then a look at what it did: after an accepted
    // change the module is looked for at the new line settings (and stored there once it answers, when store
    // is on); after one that was not acknowledged, there and then at the old ones. Needs a scan first.
    ChangeReport changeBaudRate(int index, bool store);
    // The window's clearing, then the customer register read back (also when the acknowledgement did not
    // come). Needs a scan first.
    ChangeReport clearCustomerRegister();
    // One look at the place of the last module found, quiet unless --verbose.
    LookResult lookAgain(const QByteArray &serialNumber);
    // In memory only: the next scan looks at these line settings (with the lock box checked).
    void useLineSettings(int index);
    // Whether a search that finds the module stores where (watch --port stores nothing).
    void setStoreFound(bool on) { m_storeFound = on; }
    // The stored settings afresh, as at a start of the program (ModuleFound false).
    void reloadSettings();

    bool stopRequested() const { return m_session.stopRequested(); }
    // A scan's outcome, a stop named for its reason: Ctrl-C (interrupted) or the run's time (timed-out).
    Outcome outcomeOf(const ScanResult &scan) const;
    // Interrupted or timed-out, as the stop was asked for.
    Outcome stoppedOutcome() const;
    QString message(Message m) const { return m_session.message(m); }
    const SettingsStore &settings() const { return m_session.settings(); }
    int language() const { return m_session.settings().languageIndex; }

private:
    ModuleSession::Parts sessionParts(StopToken &stop);
    ChangeReport reportOf(ChangeOutcome outcome, Outcome refused, const QString &message, FrameReply::Kind failedReply,
                          const QByteArray &answeredSerialNumber) const;

    const CliOptions m_options;
    bool m_storeFound = true;
    ConsoleOutput &m_output;
    ProgressState m_progress;
    StopToken &m_stop;
    ModuleSession m_session;
    ConsoleView m_view{m_session.tones()};
};
