#pragma once

#include "test_support.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class TfrmModule;

// The tool as the program assembles it (system clock, module port, frame layer, command set,
// settings store, message table, tone player, window), shown on the offscreen platform, with
// virtual modules on pseudo-terminals linked as COMn in a private configuration folder.
// Every COMn without a module is linked to nothing, so no real device is ever reached.
class WindowRig {
public:
    WindowRig();
    ~WindowRig();
    WindowRig(const WindowRig &) = delete;
    WindowRig &operator=(const WindowRig &) = delete;

    bool isValid() const;
    // Why the last addModule failed, for the test's message.
    QString lastError() const { return m_lastError; }

    // Starts a virtual module with the given options and links its terminal as COMn.
    // Null when it did not start.
    SimProcess *addModule(int com, const QStringList &options = {});
    // Links COMn to a device or path of the test's choosing.
    void linkPort(int com, const QString &target) { m_home.linkPort(com, target); }
    // Stops the module linked as COMn and links COMn to nothing, as when the module is unplugged.
    void unplug(int com);

    // The settings file as an earlier run would have left it: where the module was found, the language.
    static void writeStoredPlace(int port, int index, const char *lineSettings);
    static void writeStoredLanguage(const QString &name);

    // Creates and shows the window; the settings come from the private folder as at a start.
    bool start();
    // Closes the window and starts the tool afresh, as after a restart of the program.
    bool restart();
    void stop();
    TfrmModule &window() const;

    // A mouse click on a push button, by control name; returns when its handler has returned.
    void click(const QString &button);
    QString text(const QString &control) const;
    QString toolTip(const QString &control) const;
    QColor indicator() const;
    int listIndex() const;
    // Chooses an entry of cmbBaudRate as the user would, with the keyboard.
    void chooseListIndex(int index);
    bool lockChecked() const;
    // Clicks chkLock until it shows the wanted state.
    void setLock(bool checked);

    QString settingsFile() const { return m_home.settingsFile(); }
    // The key=value lines of the stored settings file, quotes removed; empty without a file.
    QMap<QString, QString> storedValues() const;

private:
    struct Tool;

    ScopedConfigHome m_home;
    QTemporaryDir m_logs;
    std::vector<std::unique_ptr<SimProcess>> m_modules;
    QMap<int, SimProcess *> m_moduleOnPort;
    std::unique_ptr<Tool> m_tool;
    QString m_lastError;
};

// The command texts a virtual module heard (frames with a good check), in order, from its traffic log.
QList<QByteArray> requestsHeard(const SimProcess &module);
// How many of the module's reads held a whole request. The tool writes a request in five pieces with pauses
// between them and the test's module reads each piece as it comes, at a real-time priority: a request read
// whole waited in the kernel's pseudo-terminal before the module could have it.
int requestsReadWhole(const SimProcess &module);
