#pragma once

#include "clock.h"
#include "frame_layer.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_look.h"
#include "move_confirmation.h"
#include "module_operations.h"
#include "module_port.h"
#include "module_view.h"
#include "operation_results.h"
#include "serial_device.h"
#include "port_probe.h"
#include "settings_store.h"
#include "stop_token.h"
#include "tone_player.h"

#include <functional>
#include <memory>

// The tool's parts, owned in one place: the clock, the module port, the frame layer, the command set,
// the settings store, the message table and the tone player. The window and the console program each
// build one session and run the operations through it; a view shows what an operation does as it goes.
class ModuleSession {
public:
    // Parts put in place of the real ones. Everything left empty is the real part.
    struct Parts {
        // Instead of the system clock (tests: a clock that moves only when the code waits). Every thread of
        // a parallel search uses it at the same time.
        Clock *clock = nullptr;
        // Instead of the module port (tests: a scripted module).
        SerialDevice *port = nullptr;
        // A device put in front of the session's own module port, which the frame layer then talks
        // through, and in front of each port of a parallel search (the console program's port that
        // reports every open).
        FrontPort frontPort;
        // Instead of the module port a thread of a parallel search makes for itself, on the session's
        // clock and behind frontPort (tests: a scripted module per thread).
        SearchPortMaker searchPorts;
        // The stop token the session's operations look at, where another part (a signal handler) holds
        // it; otherwise the session's own, which only stop() sets.
        StopToken *stop = nullptr;
    };

    ModuleSession();
    explicit ModuleSession(Parts parts);
    ~ModuleSession();
    ModuleSession(const ModuleSession &) = delete;
    ModuleSession &operator=(const ModuleSession &) = delete;

    // The window's scan: the quick attempt at the stored port, then the search; stores where it found
    // the module.
    ScanResult scan(ModuleView &view);
    // The same over the scope's ports only, storing the place only when the scope says so.
    ScanResult scan(ModuleView &view, const ScanScope &scope);
    // Moves the module found by the last scan to the line settings selected in the view's list.
    BaudRateResult changeBaudRate(ModuleView &view);
    // Clears the customer register of the module found by the last scan.
    ClearResult clearCustomerRegister(ModuleView &view);

    // After an accepted baud-rate change: the module looked for at its new place (see confirmMovedModule).
    MoveConfirmation confirmMove(const MoveTarget &target);
    // After a baud-rate change: the module the scan read looked for at its port and the new line settings;
    // once it answers, stored there when store is on.
    MoveConfirmation findMovedModule(int lineSettingsIndex, bool store);
    // After a baud-rate change the module did not acknowledge: looked for at the new line settings as after
    // an accepted change (and the module in hand is there once found; stored when store is on), then once at
    // the old.
    MovedTo findUnacknowledgedMove(int lineSettingsIndex, bool store);
    // After a clearing: the customer register read from the module the scan read, at its place.
    RegisterReadBack readBackCustomerRegister();
    // One look at a place where a module was; a late reply is something there, never the next request's answer.
    LookResult lookAgain(const Place &place, const QByteArray &serialNumber);

    // The stored settings, as at a start of the tool: no module in hand.
    void loadSettings();
    // These values instead of the stored ones (the store's defaults: as on a machine where nothing was ever
    // stored); nothing is read or written. The module in hand stays where it is.
    void useSettings(const SettingsStore &values);
    // In memory only: the next scan looks at these line settings first (an index of the table).
    void useLineSettings(int lineSettingsIndex);
    // The language of every text from now on; stored when save is on (the window's language buttons).
    void selectLanguage(int index, const QString &name, bool save = true);
    // The module the last scan read completely, and where it is now; found false until then.
    const ModuleInHand &moduleInHand() const { return m_inHand; }

    // Asks the running operation to stop at its next safe point: a search before its next open or request,
    // a change before the command that changes the module. Safe from any thread.
    void stop() { m_stop->request(); }
    bool stopRequested() const { return m_stop->requested(); }
    // Off: a change, once begun, goes through whatever a stop request says (the production line finishes
    // the module in hand); the searches still stop.
    void setStopBeforeChange(bool on) { m_stopBeforeChange = on; }

    // Runs once per scan as soon as the module has answered, before its information is read.
    void setModuleFoundHook(std::function<void()> hook) { m_moduleFound = std::move(hook); }

    // Message m in the session's language.
    QString message(Message m) const;

    Clock &clock() { return *m_clock; }
    FrameLayer &frames() { return m_frames; }
    ModuleCommands &commands() { return m_commands; }
    // Read only: the session alone changes it, through the verbs above and the operations.
    const SettingsStore &settings() const { return m_settings; }
    const MessageTable &messages() const { return m_messages; }
    TonePlayer &tones() { return m_tones; }

private:
    struct OwnParts;
    ModuleSession(Parts parts, std::unique_ptr<OwnParts> own);
    static SerialDevice *ownPort(const Parts &parts, OwnParts &own, Clock &clock);
    OperationContext context(ModuleView &view);
    // Where the module is from now on, saved when asked.
    void remember(const Place &place, bool save);

    std::unique_ptr<OwnParts> m_own; // the real clock and port, where no others were given
    Clock *m_clock;
    SerialDevice *m_device;
    FrameLayer m_frames;
    ModuleCommands m_commands;
    // The console program's looks after a change (the move confirmation, the read-back, the look at the old
    // line settings): each waits up to a second for the frame that answers its own request.
    FrameLayer m_lookFrames;
    ModuleCommands m_lookCommands;
    // The production line's looks at a module left on its fixture: the 250 ms time-out, but a late reply
    // answers its own request, never the next one.
    FrameLayer m_watchFrames;
    ModuleCommands m_watchCommands;
    SettingsStore m_settings;
    MessageTable m_messages;
    TonePlayer m_tones;
    FrontPort m_frontPort;
    SearchPortMaker m_searchPorts;
    StopToken *m_stop;
    bool m_stopBeforeChange = true;
    ModuleInHand m_inHand;
    std::function<void()> m_moduleFound;
    std::function<void(const Place &, bool)> m_remember;
};
