#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;

// setpriv's arguments for running a program as nobody. A change of user clears the parent-death signal;
// setpriv sets it again.
QStringList asNobody(const QString &program)
{
    return {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
            QStringLiteral("--pdeathsig=SIGKILL"), QStringLiteral("--"), program};
}

// QSettings computes its folders once per process; tell it each time the environment changes.
void pointSettingsAt(const QString &userDir, const QString &systemDir)
{
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, userDir);
        QSettings::setPath(format, QSettings::SystemScope, systemDir);
    }
}

void restoreVariable(const char *name, bool had, const QByteArray &value)
{
    if (had)
        qputenv(name, value);
    else
        qunsetenv(name);
}

} // namespace

TestProcess::TestProcess(QObject *parent) : QProcess(parent)
{
    installModifier();
    // The group is the program's process id (setpgid below). Whatever the program leaves in it (a shell's
    // children) goes the moment its end is seen: only then is the number surely still the group's, since a
    // process id is handed out again once neither a process nor a group holds it.
    connect(this, &QProcess::started, this, [this] { m_group = processId(); });
    connect(this, &QProcess::finished, this, [this] {
        if (m_group > 0)
            ::kill(pid_t(-m_group), SIGKILL);
        m_group = 0;
    });
}

TestProcess::~TestProcess()
{
    killGroup();
    // QProcess's own end, should the program still run, must not reach this part of the object.
    disconnect(this, nullptr, this, nullptr);
}

void TestProcess::setChildSetup(std::function<void()> setup)
{
    m_setup = std::move(setup);
    installModifier();
}

void TestProcess::installModifier()
{
    const pid_t test = ::getpid();
    setChildProcessModifier([test, setup = m_setup] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The test may have gone before the signal was asked for.
        if (::getppid() != test)
            ::_exit(127);
        if (setup)
            setup();
    });
}

void TestProcess::killGroup(int waitMs)
{
    if (state() == QProcess::NotRunning)
        return;
    // Running or not yet reaped, the program holds its number, so the group is still its own.
    ::kill(pid_t(-processId()), SIGKILL);
    kill();
    waitForFinished(waitMs);
}

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool hasEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int end = line.lastIndexOf(')');
    return end < 0 || line.mid(end + 2, 1) == "Z";
}

ScopedConfigHome::ScopedConfigHome()
{
    m_hadHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_hadDirs = qEnvironmentVariableIsSet("XDG_CONFIG_DIRS");
    m_oldHome = qgetenv("XDG_CONFIG_HOME");
    m_oldDirs = qgetenv("XDG_CONFIG_DIRS");
    m_hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_oldData = qgetenv("XDG_DATA_HOME");
    if (!m_dir.isValid())
        return;
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString dirs = m_dir.filePath(QStringLiteral("dirs"));
    const QString data = m_dir.filePath(QStringLiteral("data"));
    QDir().mkpath(home);
    QDir().mkpath(dirs);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dirs));
    // The user's data folder too: the console program's records file lives there.
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    pointSettingsAt(home, dirs);
}

ScopedConfigHome::~ScopedConfigHome()
{
    restoreVariable("XDG_CONFIG_HOME", m_hadHome, m_oldHome);
    restoreVariable("XDG_CONFIG_DIRS", m_hadDirs, m_oldDirs);
    restoreVariable("XDG_DATA_HOME", m_hadData, m_oldData);
    const QString home = m_oldHome.isEmpty() ? QDir::homePath() + QStringLiteral("/.config")
                                             : QFile::decodeName(m_oldHome);
    const QString firstDir = QFile::decodeName(m_oldDirs).section(QLatin1Char(':'), 0, 0);
    pointSettingsAt(home, firstDir.isEmpty() ? QStringLiteral("/etc/xdg") : firstDir);
}

bool ScopedConfigHome::isValid() const
{
    return m_dir.isValid();
}

QString ScopedConfigHome::configHome() const
{
    return m_dir.filePath(QStringLiteral("home"));
}

QString ScopedConfigHome::portsDir() const
{
    return configHome() + QStringLiteral("/KAVOR/ports");
}

QString ScopedConfigHome::settingsFile() const
{
    return configHome() + QStringLiteral("/KAVOR/ModuleBench.conf");
}

void ScopedConfigHome::linkPort(int n, const QString &target)
{
    QDir().mkpath(portsDir());
    const QString link = portsDir() + QStringLiteral("/COM") + QString::number(n);
    // QFile::remove follows nothing: it removes the link itself, dangling or not.
    QFile::remove(link);
    QFile::link(target, link);
}

void ScopedConfigHome::linkAllPortsToNothing()
{
    for (int n = 1; n <= 16; ++n)
        linkPort(n, nothingPath(n));
}

QString ScopedConfigHome::nothingPath(int n) const
{
    return m_dir.filePath(QStringLiteral("absent/COM") + QString::number(n));
}

QString deviceNodeLike(const QString &device, const QString &folder)
{
    if (::geteuid() != 0)
        return device;
    struct stat real {};
    if (::stat(QFile::encodeName(device).constData(), &real) != 0 || !S_ISCHR(real.st_mode))
        return {};
    QDir().mkpath(folder);
    const QString node = folder + QLatin1Char('/') + QFileInfo(device).fileName();
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, real.st_rdev) != 0)
        return {};
    return node;
}

SimProcess::SimProcess(const QStringList &args)
    : m_args(args)
{
    const int at = m_args.indexOf(QStringLiteral("--log"));
    if (at >= 0 && at + 1 < m_args.size() && m_args.at(at + 1) != QLatin1String("-"))
        m_logFile = m_args.at(at + 1);
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::executablePath()
{
    return QStringLiteral(MB_SIM_PATH);
}

bool SimProcess::start()
{
    stop();
    m_slavePath.clear();
    m_errorFile = std::make_unique<QTemporaryFile>();
    if (!m_errorFile->open())
        return false;
    m_process = std::make_unique<TestProcess>();
    m_process->setStandardErrorFile(m_errorFile->fileName());
    m_process->setProgram(executablePath());
    m_process->setArguments(m_args + QStringList{QStringLiteral("--exit-on-eof")});
    m_process->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    m_process->start();
    if (!m_process->waitForStarted(kStartTimeoutMs))
        return false;

    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (!out.contains('\n')) {
        const int left = kStartTimeoutMs - int(timer.elapsed());
        if (left <= 0 || m_process->state() != QProcess::Running)
            break;
        m_process->waitForReadyRead(left);
        out += m_process->readAllStandardOutput();
    }
    const int end = out.indexOf('\n');
    if (end <= 0) {
        stop();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(out.left(end));
    return true;
}

void SimProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        m_process->waitForFinished(kStopTimeoutMs);
    }
    m_process->killGroup(kStopTimeoutMs);
}

bool SimProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

int SimProcess::exitCode() const
{
    return m_process ? m_process->exitCode() : -1;
}

QString SimProcess::log() const
{
    if (m_logFile.isEmpty())
        return {};
    QFile file(m_logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll());
}

QString SimProcess::errorOutput() const
{
    if (!m_errorFile)
        return {};
    QFile file(m_errorFile->fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll());
}

DeviceHolder::DeviceHolder(const QString &mode, const QString &devicePath, bool asNobody)
    : m_args{mode, devicePath}, m_asNobody(asNobody)
{
}

DeviceHolder::~DeviceHolder()
{
    stop();
}

bool DeviceHolder::start()
{
    QString program = QStringLiteral(MB_PORT_HOLDER_PATH);
    if (!m_name.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_linkDir.path()) + '/' + m_name;
        if (::symlink(MB_PORT_HOLDER_PATH, link.constData()) != 0) {
            m_error = QStringLiteral("no link to the holder: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        ::chmod(QFile::encodeName(m_linkDir.path()).constData(), 0755);
        program = QFile::decodeName(link);
    }
    if (m_asNobody)
        m_process.start(QStringLiteral("setpriv"), asNobody(program) + m_args);
    else
        m_process.start(program, m_args);
    QElapsedTimer timer;
    timer.start();
    while (!m_process.canReadLine() && timer.elapsed() < kStartTimeoutMs) {
        if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning)
            break;
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("held ")) {
        m_error = QString::fromLocal8Bit(m_process.readAllStandardError());
        stop();
        return false;
    }
    m_pid = line.mid(5).toLongLong();
    return true;
}

void DeviceHolder::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        m_process.waitForFinished(kStopTimeoutMs);
    }
    m_process.killGroup(kStopTimeoutMs);
}

bool canRunAsNobody(QString *reason)
{
    if (::geteuid() != 0) {
        *reason = QStringLiteral("only root can run a check as the user nobody; run the tests as root (as CI does)");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        *reason = QStringLiteral("setpriv (util-linux) is missing");
        return false;
    }
    return true;
}

QProcess *startAsNobody(const QString &program, const QStringList &args, QObject *parent)
{
    auto *process = new TestProcess(parent);
    process->setProgram(QStringLiteral("setpriv"));
    process->setArguments(asNobody(program) + args);
    process->start();
    return process;
}

bool runAsNobody(const QString &script, QString *error)
{
    TestProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("setpriv"), asNobody(QStringLiteral("/bin/sh")) + QStringList{QStringLiteral("-c"), script});
    const bool finished = process.waitForFinished(30000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = QStringLiteral("as nobody: %1: %2").arg(script, QString::fromLocal8Bit(process.readAll()));
    return false;
}

QString makeStickyFolder(const QString &parent, const QString &name)
{
    const QString folder = parent + QLatin1Char('/') + name;
    if (!QDir().mkpath(folder) || ::chmod(QFile::encodeName(parent).constData(), 0755) != 0
        || ::chmod(QFile::encodeName(folder).constData(), 01777) != 0)
        return {};
    return folder;
}
