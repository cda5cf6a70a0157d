#include "cli_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QJsonDocument>
#include <QProcessEnvironment>

#include <csignal>
#include <sys/resource.h>

QList<QJsonObject> CliRun::records() const
{
    QList<QJsonObject> list;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            return {};
        list << document.object();
    }
    return list;
}

QByteArray CliRun::describe() const
{
    return "finished " + QByteArray::number(finished) + ", exit " + QByteArray::number(exitCode) + "\nstdout:\n" + out
           + "\nstderr:\n" + err;
}

CliProcess::CliProcess() = default;

CliProcess::~CliProcess() = default;

QString CliProcess::executablePath()
{
    // MB_CLI_UNDER_TEST: the tests against another build of the program (an older one, to see them fail).
    return qEnvironmentVariable("MB_CLI_UNDER_TEST", QStringLiteral(MB_CLI_PATH));
}

bool CliProcess::start(const QStringList &arguments)
{
    return startProgram(executablePath(), arguments);
}

bool CliProcess::startShell(const QString &script)
{
    return startProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, executablePath()});
}

bool CliProcess::startProgram(const QString &program, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The console program must not need a display.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    m_process = std::make_unique<TestProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setProgram(program);
    m_process->setArguments(arguments);
    if (m_fileSizeLimit > 0) {
        const rlim_t limit = rlim_t(m_fileSizeLimit);
        m_process->setChildSetup([limit] {
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
    }
    m_process->start();
    return m_process->waitForStarted(5000);
}

void CliProcess::signal(int number)
{
    if (m_process && m_process->processId() > 0)
        ::kill(pid_t(m_process->processId()), number);
}

qint64 CliProcess::processId() const
{
    return m_process ? m_process->processId() : 0;
}

CliRun CliProcess::wait(int timeoutMs)
{
    CliRun run;
    if (!m_process)
        return run;
    // One that ended while the test was waiting for something else has finished too.
    const bool ended = m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
    run.finished = ended && m_process->exitStatus() == QProcess::NormalExit;
    // The program with whatever it started (a shell's children too), finished or not.
    m_process->killGroup();
    run.exitCode = m_process->exitCode();
    run.out = m_process->readAllStandardOutput();
    run.err = m_process->readAllStandardError();
    return run;
}

CliRun runCli(const QStringList &arguments, int timeoutMs)
{
    CliProcess process;
    if (!process.start(arguments))
        return {};
    return process.wait(timeoutMs);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}
