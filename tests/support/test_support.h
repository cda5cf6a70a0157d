#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <functional>
#include <memory>

// A process that ends with the test that started it: it runs in a process group of its own, which goes as a
// whole (a shell and whatever it started), and with a parent-death signal, so a test killed by its time-out
// or a crash takes it along.
class TestProcess : public QProcess {
public:
    explicit TestProcess(QObject *parent = nullptr);
    ~TestProcess() override;
    TestProcess(const TestProcess &) = delete;
    TestProcess &operator=(const TestProcess &) = delete;

    // More to do in the child before the program runs (a resource limit...).
    void setChildSetup(std::function<void()> setup);
    // Kills the process group, the program with everything it started, and waits for the program's end.
    // A program that has ended took its group along already.
    void killGroup(int waitMs = 5000);

private:
    void installModifier();

    std::function<void()> m_setup;
    qint64 m_group = 0;
};

// Polls every 20 ms, events processed, until the condition holds (true) or the time is up (false).
bool waitFor(const std::function<bool()> &condition, int timeoutMs);
// A file's bytes; empty when there is no file.
QByteArray fileBytes(const QString &path);
// A text file's lines without their line ends; empty when there is no file.
QStringList fileLines(const QString &path);

// Whether the process has ended: gone, or a zombie nobody has reaped yet (either way it runs no more).
bool hasEnded(qint64 pid);

// A private settings, port and data folder for one test: XDG_CONFIG_HOME, XDG_CONFIG_DIRS and XDG_DATA_HOME
// point into a temporary folder until the object goes, and QSettings follows them.
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
    QByteArray m_oldData;
    bool m_hadData = false;
    bool m_hadHome = false;
    bool m_hadDirs = false;
};

// A device node that a test may link to as /dev/null or /dev/zero stand-ins. Root could replace the real node
// through a faulty save, so as root this is a node of the same device made in `folder`; other users cannot
// touch /dev and get the real one. Empty when root cannot make a node there.
QString deviceNodeLike(const QString &device, const QString &folder);

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
    std::unique_ptr<TestProcess> m_process;
};

// Another program holding a device until this object goes: "flock" takes a plain flock(LOCK_EX),
// "excl" sets the terminal's exclusive flag (TIOCEXCL) without a lock, "open" only has the device open,
// "open-pty" has it open beside a pseudo-terminal master of its own.
class DeviceHolder {
public:
    // asNobody: the holder runs as the user nobody (setpriv; root only, see canRunAsNobody).
    DeviceHolder(const QString &mode, const QString &devicePath, bool asNobody = false);
    ~DeviceHolder();
    DeviceHolder(const DeviceHolder &) = delete;
    DeviceHolder &operator=(const DeviceHolder &) = delete;

    // The holder runs under this name (a link to it so named), as the system then reports it; before start().
    void setProgramName(const QByteArray &name) { m_name = name; }
    // Waits up to 5 s until it holds; false with errorOutput() when it could not.
    bool start();
    qint64 pid() const { return m_pid; }
    // Ends the hold: its input closes and it exits.
    void stop();
    QString errorOutput() const { return m_error; }

private:
    QStringList m_args;
    bool m_asNobody = false;
    QByteArray m_name;
    QTemporaryDir m_linkDir;
    TestProcess m_process;
    qint64 m_pid = 0;
    QString m_error;
};

// Runs a program as the user nobody (setpriv, as root only): false in *reason when that cannot be.
bool canRunAsNobody(QString *reason);
// A TestProcess, which keeps its parent-death signal across the change of user.
QProcess *startAsNobody(const QString &program, const QStringList &args, QObject *parent = nullptr);
// Runs a shell script as nobody to its end, for what another user would plant (links, folders): false with
// *error when it failed.
bool runAsNobody(const QString &script, QString *error);
// A folder shared like /tmp (mode 1777) in `parent`, which everyone may then pass through (0755).
QString makeStickyFolder(const QString &parent, const QString &name);
