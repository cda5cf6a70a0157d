// The process helpers the console program's tests start it with: nothing they start outlives its test,
// neither what a shell started nor a program whose test was killed.
#include "cli_process.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

qint64 pidFrom(const QString &file)
{
    qint64 pid = 0;
    waitFor([&] {
        QFile text(file);
        pid = text.open(QIODevice::ReadOnly) ? text.readAll().trimmed().toLongLong() : 0;
        return pid > 0;
    }, 10000);
    return pid;
}

// The child of the test below: starts a program that would run for ten minutes, says its process id and
// waits to be killed.
int holdAChild(const QString &pidFile)
{
    CliProcess child;
    if (!child.startShell(QStringLiteral("exec sleep 600")))
        return 1;
    QFile file(pidFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(child.processId())) <= 0)
        return 1;
    file.close();
    ::pause();
    return 0;
}

} // namespace

class TestCliProcess : public QObject {
    Q_OBJECT

private slots:
    // A run that did not end in time goes with everything its shell started.
    void aTimedOutRunLeavesNothing()
    {
        QTemporaryDir folder;
        const QString pidFile = folder.filePath(QStringLiteral("pid"));
        CliProcess run;
        QVERIFY(run.startShell(QStringLiteral("sleep 600 & echo $! > '%1'; wait").arg(pidFile)));
        const qint64 grandchild = pidFrom(pidFile);
        QVERIFY(grandchild > 0);
        const CliRun result = run.wait(200);
        QVERIFY(!result.finished);
        const bool ended = waitFor([&] { return hasEnded(grandchild); }, 5000);
        if (!ended)
            ::kill(pid_t(grandchild), SIGKILL);
        QVERIFY2(ended, "the shell's child outlived the run");
    }

    // A test killed outright (its time-out, a crash) takes the program it started along.
    void aKilledTestLeavesNothing()
    {
        QTemporaryDir folder;
        const QString pidFile = folder.filePath(QStringLiteral("pid"));
        QProcess test;
        test.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-a-child"), pidFile});
        QVERIFY(test.waitForStarted(5000));
        const qint64 child = pidFrom(pidFile);
        QVERIFY(child > 0);
        QVERIFY(!hasEnded(child));
        test.kill();
        QVERIFY(test.waitForFinished(5000));
        const bool ended = waitFor([&] { return hasEnded(child); }, 5000);
        if (!ended)
            ::kill(pid_t(child), SIGKILL);
        QVERIFY2(ended, "the program outlived the test that started it");
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-a-child") == 0) {
        QCoreApplication app(argc, argv);
        return holdAChild(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestCliProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cli_process.moc"
