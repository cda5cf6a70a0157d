#pragma once

#include "clock.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_view.h"
#include "serial_device.h"
#include "settings_store.h"

#include <QString>
#include <functional>

// Everything an operation works with; all of it is owned elsewhere.
struct OperationContext {
    ModuleView &view;
    SerialDevice &port;
    ModuleCommands &commands;
    SettingsStore &settings;
    const MessageTable &messages;
    Clock &clock; // for the blocking 200 ms pauses
};

// What the three operations share: texts, the outcome report and the confirm-then-command pair.
class ModuleOperation {
protected:
    explicit ModuleOperation(const OperationContext &context) : m_ctx(context) {}

    static constexpr int kPauseMs = 200;

    // Message k in the current language.
    QString message(int k) const;
    // The stored index if it names a list entry, otherwise the default entry.
    int storedLineSettingsIndex() const;
    // Colour first, then the text, then the beep.
    void report(bool success, const QString &text);
    // Opens the stored port, then up to 2 times: pause, serial-number request, pause, command.
    bool confirmThen(const std::function<bool()> &command);

    OperationContext m_ctx;
};

// The ports a scan may use, in the order it tries them, and whether a search that finds the module stores
// where. The window's scan: COM1 to COM16, stored.
struct ScanScope {
    QList<int> ports; // empty: COM1 to COM16; a stored port not in the list gets no quick attempt
    bool storeFound = true;
};

// Finds the module, stores where it was found and shows its identity.
class ScanOperation : private ModuleOperation {
public:
    explicit ScanOperation(const OperationContext &context, ScanScope scope = {})
        : ModuleOperation(context), m_scope(std::move(scope))
    {
    }
    void run();

    // What this run found at each port it tried, as the view was given it at the end.
    const ScanReport &report() const { return m_report; }

private:
    bool quickAttempt(QByteArray &serial);
    bool search(QByteArray &serial);
    // Up to `attempts` serial-number requests on the open port; counts them in the port's report entry.
    bool askSerialNumber(ScanPortEntry &entry, int attempts, QByteArray &serial);
    bool readInformation(const QByteArray &serial);
    void showPortTried(int portNumber);
    // Notes an open attempt at the port: a new entry, or the same entry for the search's next line settings.
    ScanPortEntry &noteOpen(int portNumber, bool opened, const QByteArray &lineSettings, bool samePort);
    void publishReport(bool found);

    ScanScope m_scope;
    ScanReport m_report;
};

// Moves the module found by the last scan to the line settings selected in the list.
class BaudRateOperation : private ModuleOperation {
public:
    explicit BaudRateOperation(const OperationContext &context) : ModuleOperation(context) {}
    void run();
};

// Clears the customer register of the module found by the last scan.
class ClearOperation : private ModuleOperation {
public:
    explicit ClearOperation(const OperationContext &context) : ModuleOperation(context) {}
    void run();
};
