#pragma once

#include "clock.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_view.h"
#include "operation_results.h"
#include "serial_device.h"
#include "settings_store.h"

#include <QString>
#include <functional>

// Everything an operation works with; all of it is owned by the session.
struct OperationContext {
    ModuleView &view;
    SerialDevice &port;
    ModuleCommands &commands;
    SettingsStore &settings;
    const MessageTable &messages;
    Clock &clock; // for the blocking 200 ms pauses
    // Runs once the scan has found the module, before its information read; may be empty.
    const std::function<void()> &moduleFound;
};

// What the three operations share: texts, the outcome report and the confirm-then-command pair.
class ModuleOperation {
protected:
    explicit ModuleOperation(const OperationContext &context) : m_ctx(context) {}

    static constexpr int kPauseMs = 200;

    // The message in the current language.
    QString message(Message m) const;
    // The stored index if it names a list entry, otherwise the default entry.
    int storedLineSettingsIndex() const;
    // Colour first, then the text, then the beep.
    void report(bool success, const QString &text);

    struct Confirmed {
        ChangeOutcome outcome = ChangeOutcome::PortNotOpened;
        FrameReply::Kind failedReply = FrameReply::Kind::Good;
    };
    // Opens the stored port, then up to 2 times: pause, serial-number request, pause, command.
    Confirmed confirmThen(const std::function<CommandResult()> &command);

    OperationContext m_ctx;
};


// The serial-number requests of a scan: 3 at the stored port, 2 per port and line settings in the search.
constexpr int kQuickAttempts = 3;
constexpr int kSearchAttempts = 2;

// Up to `attempts` serial-number requests on the open port, each counted in the port's report entry with
// what came back; `halted`, when given, is asked before each. True with the serial number once one answers.
bool askSerialNumber(ModuleCommands &commands, ScanPortEntry &entry, int attempts, QByteArray &serial,
                     const std::function<bool()> &halted = {});

// Finds the module, stores where it was found and shows its identity.
class ScanOperation : private ModuleOperation {
public:
    explicit ScanOperation(const OperationContext &context, ScanScope scope = {})
        : ModuleOperation(context), m_scope(std::move(scope))
    {
    }
    ScanResult run();

private:
    bool quickAttempt(QByteArray &serial);
    bool search(QByteArray &serial);
    bool readInformation(const QByteArray &serial);
    void showPortTried(int portNumber);
    // Notes an open attempt at the port: a new entry, or the same entry for the search's next line settings.
    ScanPortEntry &noteOpen(int portNumber, bool opened, const QByteArray &lineSettings, bool samePort);
    void publishReport(bool found);

    ScanScope m_scope;
    ScanResult m_result;
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
