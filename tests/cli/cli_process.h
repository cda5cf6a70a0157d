#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "test_support.h"

#include <functional>
#include <memory>

// What one run of modulebench-cli left.
struct CliRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString text() const { return QString::fromUtf8(out); }
    QString errors() const { return QString::fromUtf8(err); }
    // Standard output read as one JSON object per line; an empty list when a line is no JSON object.
    QList<QJsonObject> records() const;
    // For QVERIFY2: the status and both outputs.
    QByteArray describe() const;
};

// modulebench-cli as a real process, with the test's environment (its private configuration folder)
// and no display at all. It ends with the test, whatever it started too (TestProcess).
class CliProcess {
public:
    CliProcess();
    ~CliProcess();
    CliProcess(const CliProcess &) = delete;
    CliProcess &operator=(const CliProcess &) = delete;

    static QString executablePath();

    bool start(const QStringList &arguments);
    // The same through /bin/sh -c script, with $0 the program: for arguments only a shell can make
    // (bytes that are no valid text).
    bool startShell(const QString &script);
    // The file size limit (RLIMIT_FSIZE) the program runs under, for a file system that fills up; 0: none.
    void setFileSizeLimit(qint64 bytes) { m_fileSizeLimit = bytes; }
    // Sends a signal (SIGINT for Ctrl-C) to the running program.
    void signal(int number);
    CliRun wait(int timeoutMs);
    qint64 processId() const;

private:
    bool startProgram(const QString &program, const QStringList &arguments);

    std::unique_ptr<TestProcess> m_process;
    qint64 m_fileSizeLimit = 0;
};

// Runs to the end; a program still running after timeoutMs is killed and reported unfinished.
CliRun runCli(const QStringList &arguments, int timeoutMs = 60000);

// Writes the file afresh; fails the test when it cannot.
void writeFile(const QString &path, const QByteArray &bytes);


