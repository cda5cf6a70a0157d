#pragma once

#include "clock.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_view.h"
#include "operation_results.h"
#include "port_probe.h"
#include "port_search.h"
#include "serial_device.h"
#include "settings_store.h"
#include "stop_token.h"

#include <QString>
#include <functional>

// What the confirm-then-command pair gave.
struct ConfirmedCommand {
    ChangeOutcome outcome = ChangeOutcome::PortNotOpened;
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    QByteArray answeredSerialNumber; // for ModuleChanged
    CommandResult reply;             // the command's last reply, once it was sent
};

// Opens the port, then up to 2 times: pause, serial-number request, pause, command (a command not answered
// gets the serial-number request again). The command goes only to the module serialNumber: another one ends
// the pair with nothing sent (ModuleChanged). mayCommand, when given, is asked right before the command; false
// keeps it off the line (Stopped).
ConfirmedCommand confirmThenCommand(SerialDevice &port, ModuleCommands &commands, Clock &clock, int portNumber,
                                    const QByteArray &lineSettings, const QByteArray &serialNumber,
                                    const std::function<bool()> &mayCommand,
                                    const std::function<CommandResult()> &command);

// Everything an operation works with; all of it is owned by the session.
struct OperationContext {
    ModuleView &view;
    SerialDevice &port;
    ModuleCommands &commands;
    // Where to look first, and the language; the operations change it only through remember.
    const SettingsStore &settings;
    // Where the module is from now on (in memory), and whether the store is written with it.
    const std::function<void(const Place &place, bool save)> &remember;
    const MessageTable &messages;
    Clock &clock; // for the blocking 200 ms pauses
    // Runs once the scan has found the module, before its information read; may be empty.
    const std::function<void()> &moduleFound;
    // Looked at before each open and each request of a search, and right before a command that changes
    // the module.
    const StopToken &stop;
    // Whether that look right before a change is made (the production line finishes a module in hand).
    bool stopBeforeChange;
    // The module the last scan found: a change goes only to it.
    ModuleInHand &inHand;
    // Makes the port of each thread of a parallel search, which talks through it on the clock above.
    const SearchPortMaker &searchPorts;
};

// What the three operations share: texts, the outcome report and the confirm-then-command pair.
class ModuleOperation {
protected:
    explicit ModuleOperation(const OperationContext &context) : m_ctx(context) {}

    // The message in the current language.
    QString message(Message m) const;
    // The stored index if it names a list entry, otherwise the default entry.
    int storedLineSettingsIndex() const;
    // Colour first, then the text, then the beep.
    void report(bool success, const QString &text);

    using Confirmed = ConfirmedCommand;
    // The confirm-then-command pair at the module's place, for the module the scan read; another module that
    // answers is forgotten with the module found. A stop request that has come by the moment the command
    // would go keeps it off the line.
    Confirmed confirmThen(const std::function<CommandResult()> &command);

    OperationContext m_ctx;
};


// Finds the module, stores where it was found and shows its identity.
class ScanOperation : private ModuleOperation {
public:
    explicit ScanOperation(const OperationContext &context, ScanScope scope = {})
        : ModuleOperation(context), m_scope(std::move(scope))
    {
    }
    ScanResult run();

private:
    using Found = SearchPlace;

    bool quickAttempt(PortProbe &probe, QByteArray &serial);
    // The two searches (port_search.cpp): one port after the other, the window's; every port at once, each
    // in a thread of its own. Both search each port with searchPort.
    std::optional<Found> search(PortProbe &probe);
    std::optional<Found> searchParallel();
    // A module the parallel search found and read in its own thread, as a scan's result.
    ScanResult moduleRead(const Found &found, const QString &devicePath, const InformationRead &information) const;
    static Place placeOf(const Found &found);
    // Remembered at once, and stored when the scope says so.
    void remember(const Found &found);
    bool readInformation(PortProbe &probe, const QByteArray &serial);
    void showPortTried(int portNumber);
    QList<int> ports() const;
    QList<int> lineSettingsToTry() const;
    void publishReport(bool found);

    ScanScope m_scope;
    ScanResult m_result;
    // The information read the parallel search's answering port made while the ports before it finished.
    std::optional<InformationRead> m_answerRead;
};

// Moves the module found by the last scan to the line settings selected in the list.
class BaudRateOperation : private ModuleOperation {
public:
    explicit BaudRateOperation(const OperationContext &context) : ModuleOperation(context) {}
    BaudRateResult run();
};

// Clears the customer register of the module found by the last scan.
class ClearOperation : private ModuleOperation {
public:
    explicit ClearOperation(const OperationContext &context) : ModuleOperation(context) {}
    ClearResult run();
};
