#pragma once

#include "clock.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_view.h"
#include "serial_device.h"
#include "settings_store.h"

// Everything an operation works with; all of it is owned elsewhere.
struct OperationContext {
    ModuleView &view;
    SerialDevice &port;
    ModuleCommands &commands;
    SettingsStore &settings;
    const MessageTable &messages;
    Clock &clock; // for the blocking 200 ms pauses
};

// Finds the module, stores where it was found and shows its identity.
class ScanOperation {
public:
    explicit ScanOperation(const OperationContext &context) : m_ctx(context) {}
    void run();

private:
    OperationContext m_ctx;
};

// Moves the module found by the last scan to the line settings selected in the list.
class BaudRateOperation {
public:
    explicit BaudRateOperation(const OperationContext &context) : m_ctx(context) {}
    void run();

private:
    OperationContext m_ctx;
};

// Clears the customer register of the module found by the last scan.
class ClearOperation {
public:
    explicit ClearOperation(const OperationContext &context) : m_ctx(context) {}
    void run();

private:
    OperationContext m_ctx;
};
