#pragma once

#include "frame_layer.h"
#include "line_settings.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_operations.h"
#include "recording_view.h"
#include "scripted_module.h"
#include "settings_sandbox.h"
#include "settings_store.h"

// A scripted module, the real frame layer and command set, a recording view and a real settings
// store writing into a private store (a folder on Linux, the emptied registry key on Windows).
class OperationRig {
public:
    OperationRig()
    {
        for (int port = 1; port <= 16; ++port)
            module.presentPorts.insert(port);
        frames.setIdleCallback([this] { ++idleCalls; });
    }

    int idleCalls = 0;

    QStringList log;
    FakeClock clock{log};
    ScriptedModule module{clock, log};
    FrameLayer frames{module, clock};
    ModuleCommands commands{frames};
    RecordingView view{log};
    SettingsStore settings;
    MessageTable messages;

    OperationContext context() { return {view, module, commands, settings, messages, clock}; }
    void scan()
    {
        log.clear();
        ScanOperation scan(context());
        scan.run();
        scanReport = scan.report();
    }
    ScanReport scanReport;
    void changeBaudRate()
    {
        log.clear();
        BaudRateOperation(context()).run();
    }
    void clear()
    {
        log.clear();
        ClearOperation(context()).run();
    }

    // The log entries that start with one of the prefixes, in order.
    QStringList only(const QStringList &prefixes) const
    {
        QStringList picked;
        for (const QString &entry : log)
            for (const QString &prefix : prefixes)
                if (entry.startsWith(prefix)) {
                    picked << entry;
                    break;
                }
        return picked;
    }
    // The opens that succeeded.
    QStringList opened() const
    {
        QStringList picked;
        for (const QString &entry : only({QStringLiteral("open ")}))
            if (!entry.endsWith(QLatin1String(" failed")))
                picked << entry;
        return picked;
    }
    QStringList texts(InfoPanel panel) const
    {
        QStringList picked;
        const QString prefix = QStringLiteral("text ") + RecordingView::panelName(panel) + QLatin1Char(' ');
        for (const QString &entry : log)
            if (entry.startsWith(prefix))
                picked << entry.mid(prefix.size());
        return picked;
    }
    int indexOf(const QString &entry) const { return log.indexOf(entry); }

    // Every open that succeeded is closed exactly once, before the next open, and nothing stays open.
    bool portDisciplineHolds() const
    {
        bool open = false;
        for (const QString &entry : log) {
            if (entry.startsWith(QLatin1String("open ")) && !entry.endsWith(QLatin1String(" failed"))) {
                if (open)
                    return false;
                open = true;
            } else if (entry.startsWith(QLatin1String("open "))) {
                if (open)
                    return false;
            } else if (entry == QLatin1String("close")) {
                if (!open)
                    return false;
                open = false;
            }
        }
        return !open && module.openViolations == 0 && module.opens == module.closes;
    }

    // What the store has written: files in the private folder, or values under the key.
    QStringList storedEntries() const { return m_sandbox.written(); }
    SettingsStore reloaded() const
    {
        SettingsStore fresh;
        fresh.loadSettings();
        return fresh;
    }

private:
    SettingsSandbox m_sandbox;
};
