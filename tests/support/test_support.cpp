#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;

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

ScopedConfigHome::ScopedConfigHome()
{
    m_hadHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_hadDirs = qEnvironmentVariableIsSet("XDG_CONFIG_DIRS");
    m_oldHome = qgetenv("XDG_CONFIG_HOME");
    m_oldDirs = qgetenv("XDG_CONFIG_DIRS");
    if (!m_dir.isValid())
        return;
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString dirs = m_dir.filePath(QStringLiteral("dirs"));
    QDir().mkpath(home);
    QDir().mkpath(dirs);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dirs));
    pointSettingsAt(home, dirs);
}

ScopedConfigHome::~ScopedConfigHome()
{
    restoreVariable("XDG_CONFIG_HOME", m_hadHome, m_oldHome);
    restoreVariable("XDG_CONFIG_DIRS", m_hadDirs, m_oldDirs);
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
    m_process = std::make_unique<QProcess>();
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
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
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
