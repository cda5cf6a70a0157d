#pragma once

#include "line_settings.h"
#include "module_session.h"
#include "recording_view.h"
#include "scripted_module.h"
#include "settings_sandbox.h"
#include "settings_store.h"

#include <QMap>

#include <memory>
#include <mutex>
#include <vector>

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
    // The scan over the scope; a parallel one gives each of its threads a scripted module of its own with
    // the script of `module`, all of them on the one clock.
    void scan(const ScanScope &scope)
    {
        log.clear();
        m_searchPorts.clear();
        if (scope.parallel)
            clock.expectThreads(scope.ports.isEmpty() ? 16 : int(scope.ports.size()));
        scanResult = session.scan(view, scope);
        scanReport = scanResult.report;
        clock.expectThreads(0);
    }
    // The module each thread of the last parallel search talked to, by the port it opened.
    QMap<int, const ScriptedModule *> searchPorts() const
    {
        QMap<int, const ScriptedModule *> byPort;
        for (const auto &port : m_searchPorts)
            byPort.insert(port->module.portNumber(), &port->module);
        return byPort;
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

    // One thread's scripted module, kept after its thread has ended.
    struct SearchThreadModule {
        SearchThreadModule(FakeClock &clock, const ScriptedModule &script) : module(clock, log) { module.copyScript(script); }
        QStringList log;
        ScriptedModule module;
    };
    // The port a thread talks through: its own module, on the clock the thread joins while it uses it.
    class SearchThreadPort final : public SerialDevice {
    public:
        SearchThreadPort(ScriptedModule &module, FakeClock &clock) : m_module(module), m_clock(clock) { m_clock.join(); }
        ~SearchThreadPort() override { m_clock.leave(); }
        bool open(int portNumber, const QByteArray &lineSettings) override { return m_module.open(portNumber, lineSettings); }
        PortStatus lastOpenStatus() const override { return m_module.lastOpenStatus(); }
        void close() override { m_module.close(); }
        void writeByte(char value) override { m_module.writeByte(value); }
        void writeBlock(const char *bytes, int count) override { m_module.writeBlock(bytes, count); }
        bool readByte(char &value) override { return m_module.readByte(value); }
        void discardInput() override { m_module.discardInput(); }

    private:
        ScriptedModule &m_module;
        FakeClock &m_clock;
    };
    std::unique_ptr<SerialDevice> searchThreadPort()
    {
        const std::lock_guard<std::mutex> lock(m_searchPortsMutex);
        m_searchPorts.push_back(std::make_unique<SearchThreadModule>(clock, module));
        return std::make_unique<SearchThreadPort>(m_searchPorts.back()->module, clock);
    }

    ModuleSession::Parts parts()
    {
        ModuleSession::Parts parts;
        parts.clock = &clock;
        parts.port = &module;
        parts.searchPorts = [this] { return searchThreadPort(); };
        return parts;
    }

    std::mutex m_searchPortsMutex;
    std::vector<std::unique_ptr<SearchThreadModule>> m_searchPorts;
    SettingsSandbox m_sandbox;
};
