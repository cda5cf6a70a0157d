#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <memory>

// A private settings and port folder for one test: XDG_CONFIG_HOME and XDG_CONFIG_DIRS point
// into a temporary folder until the object goes, and QSettings follows them.
class ScopedConfigHome {
public:
    ScopedConfigHome();
    ~ScopedConfigHome();
    ScopedConfigHome(const ScopedConfigHome &) = delete;
    ScopedConfigHome &operator=(const ScopedConfigHome &) = delete;

    bool isValid() const;
    QString configHome() const;
    QString portsDir() const;
    // $XDG_CONFIG_HOME/KAVOR/ModuleBench.conf
    QString settingsFile() const;

    // COMn -> target, replacing whatever link COMn had.
    void linkPort(int n, const QString &target);
    // COM1..COM16 -> a path that does not exist, so no real device can be reached by number.
    void linkAllPortsToNothing();
    QString nothingPath(int n) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldDirs;
    bool m_hadHome = false;
    bool m_hadDirs = false;
};

// One modulebench-sim process; its slave path is read from its first line of output.
// The sim gets --exit-on-eof, so it also ends when the test process dies.
class SimProcess {
public:
    explicit SimProcess(const QStringList &args);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Launches with the current environment and waits up to 5 s for the path line.
    bool start();
    QString slavePath() const { return m_slavePath; }
    // SIGTERM, then waits for the end (a kill after 5 s).
    void stop();
    bool isRunning() const;
    int exitCode() const;

    // The contents of the --log FILE given in the arguments; empty without one.
    QString log() const;
    QString logFile() const { return m_logFile; }
    // Everything the sim wrote to stderr so far (its errors, or its log with --log -).
    QString errorOutput() const;

    static QString executablePath();

private:
    QStringList m_args;
    QString m_slavePath;
    QString m_logFile;
    // stderr goes to a file: a pipe nobody drains would stall a sim that logs to stderr.
    std::unique_ptr<QTemporaryFile> m_errorFile;
    std::unique_ptr<QProcess> m_process;
};
