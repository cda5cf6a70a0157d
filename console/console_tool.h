#pragma once

#include "console_output.h"
#include "console_view.h"
#include "outcomes.h"
#include "module_session.h"
#include "traced_port.h"

#include <QList>
#include <QString>

// How a run of the console program uses the tool: the ports, the search, the store and the language.
struct ToolSetup {
    QList<int> ports;            // in this order; empty: COM1 to COM16
    bool lock = true;            // the lock box: the stored (or given) line settings only
    bool parallel = false;       // every port searched at the same time
    bool everyModule = false;    // every port searched to its end and every module read (parallel)
    bool useStore = true;        // false: the store is neither read nor written
    bool storedLanguage = false; // the window's stored language instead of English
    int lineSettingsIndex = -1;  // where to look first (quick attempt, search with the lock); -1: as stored
    bool verbose = false;        // progress also while a quiet scan finds nothing
    // A change, once begun, goes through whatever a stop says (the production line finishes the module in
    // hand); otherwise a stop that has come by the moment the command would go keeps it off the line.
    bool finishModuleInHand = false;
};

// The tool as the console program assembles it: the window's session, its ports reporting every open, with
// the console view in the window's place. The store is read once, at the start; what each operation found
// comes back as the session's typed result.
class ConsoleTool {
public:
    ConsoleTool(const ToolSetup &setup, ConsoleOutput &output, StopToken &stop);
    ConsoleTool(const ConsoleTool &) = delete;
    ConsoleTool &operator=(const ConsoleTool &) = delete;

    // The window's scan over the setup's ports, one after the other or all at once.
    // quietWhenAbsent: no progress and no beep unless a module answers.
    ScanResult scan(bool quietWhenAbsent = false);
    // The window's baud-rate change to a line-settings index, then a look at what it did: after an accepted
    // change the module is looked for at the new line settings (and stored there once it answers, when store
    // is on); after one that was not acknowledged, there and then at the old ones. Needs a scan first.
    ChangeReport changeBaudRate(int index, bool store);
    // The window's clearing, then the customer register read back (also when the acknowledgement did not
    // come). Needs a scan first.
    ChangeReport clearCustomerRegister();
    // One look at a place where a module was, quiet unless verbose.
    LookResult lookAgain(const Place &place, const QByteArray &serialNumber);
    // In memory only: the next scan looks at these line settings (with the lock box checked).
    void useLineSettings(int index);
    // Whether a search that finds the module stores where (watch --port stores nothing).
    void setStoreFound(bool on) { m_storeFound = on; }
    // The next module is looked for where the store says: as read at the start, or as a search that found
    // a module since stored it; not where a baud-rate change left the last one.
    void startNextModule();

    bool stopRequested() const { return m_session.stopRequested(); }
    // A scan's outcome, a stop named for its reason: Ctrl-C (interrupted) or the run's time (timed-out).
    Outcome outcomeOf(const ScanResult &scan) const;
    // Interrupted or timed-out, as the stop was asked for.
    Outcome stoppedOutcome() const;
    QString message(Message m) const { return m_session.message(m); }
    const SettingsStore &settings() const { return m_session.settings(); }
    int language() const { return m_session.settings().languageIndex(); }

private:
    ModuleSession::Parts sessionParts(StopToken &stop);
    ChangeReport reportOf(ChangeOutcome outcome, Outcome refused, const QString &message, FrameReply::Kind failedReply,
                          const QByteArray &answeredSerialNumber) const;

    const ToolSetup m_setup;
    bool m_storeFound = true;
    ConsoleOutput &m_output;
    ProgressState m_progress;
    StopToken &m_stop;
    ModuleSession m_session;
    ConsoleView m_view{m_session.tones()};
    // The store as the run keeps it: read at the start, with what a search stored since.
    SettingsStore m_kept;
};
