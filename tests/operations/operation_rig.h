#pragma once

#include "line_settings.h"
#include "module_session.h"
#include "recording_view.h"
#include "scripted_module.h"
#include "settings_sandbox.h"
#include "settings_store.h"

// A session on a scripted module and a clock that moves only when the code waits: the real frame
// layer, command set, settings store (writing into a private store: a folder on Linux, the emptied
// registry key on Windows) and message table, with a recording view in the window's place.
class OperationRig {
public:
    OperationRig()
    {
        for (int port = 1; port <= 16; ++port)
            module.presentPorts.insert(port);
        session.frames().setIdleCallback([this] { ++idleCalls; });
    }

    int idleCalls = 0;

    QStringList log;
    FakeClock clock{log};
    ScriptedModule module{clock, log};
    ModuleSession session{parts()};
    RecordingView view{log};
    const SettingsStore &settings = session.settings();

    // The store set up as if these values had been stored, and read at the start.
    void storePort(int port) { change([port](SettingsStore &s) { s.rememberPlace(port, s.lineSettings(), s.lineSettingsIndex()); }); }
    void storeLineSettingsText(const QByteArray &text)
    {
        change([&text](SettingsStore &s) { s.rememberPlace(s.portNumber(), text, s.lineSettingsIndex()); });
    }
    void storeLineSettingsIndex(int index)
    {
        change([index](SettingsStore &s) { s.rememberPlace(s.portNumber(), s.lineSettings(), index); });
    }
    void useLanguage(int index) { change([index](SettingsStore &s) { s.selectLanguage(index, s.languageName()); }); }
    const MessageTable &messages = session.messages();

    void scan()
    {
        log.clear();
        scanResult = session.scan(view);
        scanReport = scanResult.report;
    }
    ScanResult scanResult;
    ScanReport scanReport;
    BaudRateResult changeBaudRate()
    {
        log.clear();
        return session.changeBaudRate(view);
    }
    ClearResult clear()
    {
        log.clear();
        return session.clearCustomerRegister(view);
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
    template <typename Change> void change(Change change)
    {
        SettingsStore values = settings;
        change(values);
        session.useSettings(values);
    }

    ModuleSession::Parts parts()
    {
        ModuleSession::Parts parts;
        parts.clock = &clock;
        parts.port = &module;
        return parts;
    }

    SettingsSandbox m_sandbox;
};
