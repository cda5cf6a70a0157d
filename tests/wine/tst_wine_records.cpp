#include "settings_sandbox.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Records in a SQLite file through Qt SQL, in real Windows programs under wine: first sql_check (the drivers,
// a row written in one run and read in the next), then the console program's own scan --db and history.
// run-wine-records maps wine's COM3 to a virtual module and says so in MB_WINE_MODULE_COM; every other COM
// number maps to nothing.
namespace {

constexpr int kRunLimitMs = 60000;
const char kSerial[] = "WINE0002";
const char kFirmware[] = "03.20-01";
const char kCustomer[] = "RECORDS-UNDER-WINE-0123456789A";

QString windowsPath(const char *path)
{
    return QStringLiteral("Z:") + QString::fromUtf8(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

struct Run {
    bool finished = false;
    int exitCode = -1;
    QString output;
    QString errors;
};

Run run(const char *program, const QStringList &arguments)
{
    QProcess process;
    process.start(windowsPath(program), arguments);
    Run result;
    result.finished = process.waitForFinished(kRunLimitMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAllStandardOutput()).remove(QLatin1Char('\r'));
    result.errors = QString::fromUtf8(process.readAllStandardError()).remove(QLatin1Char('\r'));
    return result;
}

QString described(const Run &r)
{
    return QStringLiteral("exit %1%2\n--- output:\n%3--- errors:\n%4")
        .arg(r.exitCode)
        .arg(r.finished ? QString() : QStringLiteral(" (did not end in time)"), r.output, r.errors);
}

// One JSON object a line, as the programs print them.
QList<QJsonObject> jsonLines(const QString &output)
{
    QList<QJsonObject> objects;
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        if (document.isObject())
            objects << document.object();
    }
    return objects;
}

const QRegularExpression kUtcMilliseconds(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));

} // namespace

class TestWineRecords : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<SettingsSandbox>();
        QVERIFY(m_sandbox->isValid());
        QVERIFY(m_folder.isValid());
    }
    void cleanup() { m_sandbox.reset(); }

    // Both drivers are found beside Qt and load, with what they import (odbc32.dll for QODBC).
    void driversLoad()
    {
        const Run drivers = run(MB_SQL_CHECK_PATH, {QStringLiteral("drivers")});
        QVERIFY2(drivers.finished && drivers.exitCode == 0, qPrintable(described(drivers)));
        QVERIFY2(drivers.output.contains(QLatin1String("QSQLITE loaded")), qPrintable(described(drivers)));
        QVERIFY2(drivers.output.contains(QLatin1String("QODBC loaded")), qPrintable(described(drivers)));
    }

    // A row written with bound parameters in one run, a second in another, both read back by a third: the
    // file is a SQLite database on disk, and text that is not ASCII or that looks like SQL stays text.
    void rowsWrittenInOneRunAreReadInTheNext()
    {
        const QString file = QDir::toNativeSeparators(m_folder.filePath(QStringLiteral("check.sqlite")));
        const QString station = QStringLiteral("工位 3, O'Brien's; DROP TABLE check_record; --");
        const Run first = run(MB_SQL_CHECK_PATH, {QStringLiteral("write"), file, QLatin1String(kSerial), station});
        QVERIFY2(first.finished && first.exitCode == 0, qPrintable(described(first)));
        const Run second = run(MB_SQL_CHECK_PATH, {QStringLiteral("write"), file, QLatin1String(kSerial), station});
        QVERIFY2(second.finished && second.exitCode == 0, qPrintable(described(second)));
        const Run other = run(MB_SQL_CHECK_PATH, {QStringLiteral("write"), file, QStringLiteral("OTHER001"), station});
        QVERIFY2(other.finished && other.exitCode == 0, qPrintable(described(other)));

        QFile database(file);
        QVERIFY(database.open(QIODevice::ReadOnly));
        QCOMPARE(database.read(16), QByteArray("SQLite format 3", 16));
        database.close();

        const Run read = run(MB_SQL_CHECK_PATH, {QStringLiteral("read"), file, QLatin1String(kSerial)});
        QVERIFY2(read.finished && read.exitCode == 0, qPrintable(described(read)));
        const QList<QJsonObject> rows = jsonLines(read.output);
        QVERIFY2(rows.size() == 2, qPrintable(described(read)));
        for (const QJsonObject &row : rows) {
            QCOMPARE(row.value(QLatin1String("serial_number")).toString(), QLatin1String(kSerial));
            QCOMPARE(row.value(QLatin1String("station")).toString(), station);
            QCOMPARE(row.value(QLatin1String("duration_ms")).toInteger(), qint64(1234));
            QVERIFY2(kUtcMilliseconds.match(row.value(QLatin1String("time")).toString()).hasMatch(),
                     qPrintable(row.value(QLatin1String("time")).toString()));
        }
        QVERIFY(rows.at(0).value(QLatin1String("id")).toString() != rows.at(1).value(QLatin1String("id")).toString());
    }

    // The console program records the module a scan finds, and history shows it: once the records commands
    // are in the console program.
    void cliRecordsAScanAndShowsItsHistory()
    {
        const Run help = run(MB_CLI_PATH, {QStringLiteral("--help")});
        QVERIFY2(help.finished, qPrintable(described(help)));
        if (!help.output.contains(QLatin1String("history")) && !help.errors.contains(QLatin1String("history")))
            QSKIP("modulebench-cli --help does not mention history: the records commands are not in this build yet");
        const QString port = qEnvironmentVariable("MB_WINE_MODULE_COM");
        if (port.isEmpty())
            QSKIP("no virtual module on a COM port (run-wine-records maps one where the Linux build's "
                  "modulebench-sim is there)");

        const QString url = QStringLiteral("sqlite:")
                            + QDir::toNativeSeparators(m_folder.filePath(QStringLiteral("records.sqlite")));
        const QString station = QStringLiteral("工位 3");
        const Run scan = run(MB_CLI_PATH, {QStringLiteral("scan"), QStringLiteral("--port"), QStringLiteral("COM") + port,
                                           QStringLiteral("--station"), station, QStringLiteral("--db"), url});
        QVERIFY2(scan.finished && scan.exitCode == 0, qPrintable(described(scan)));

        const Run history = run(MB_CLI_PATH, {QStringLiteral("history"), QLatin1String(kSerial), QStringLiteral("--db"),
                                              url, QStringLiteral("--json")});
        QVERIFY2(history.finished && history.exitCode == 0, qPrintable(described(history)));
        const QList<QJsonObject> objects = jsonLines(history.output);
        QVERIFY2(objects.size() == 2, qPrintable(described(history)));
        const QJsonObject record = objects.at(0);
        QCOMPARE(record.value(QLatin1String("serial_number")).toString(), QLatin1String(kSerial));
        QCOMPARE(record.value(QLatin1String("version")).toString(), QLatin1String(kFirmware));
        QCOMPARE(record.value(QLatin1String("customer_register")).toString(), QLatin1String(kCustomer));
        QCOMPARE(record.value(QLatin1String("port")).toString(), QStringLiteral("COM") + port);
        QCOMPARE(record.value(QLatin1String("station")).toString(), station);
        QCOMPARE(record.value(QLatin1String("outcome")).toString(), QStringLiteral("ok"));
        QCOMPARE(record.value(QLatin1String("tool_version")).toString(), QStringLiteral(MB_VERSION));
        QVERIFY(!record.value(QLatin1String("id")).toString().isEmpty());
        QVERIFY2(kUtcMilliseconds.match(record.value(QLatin1String("time")).toString()).hasMatch(),
                 qPrintable(record.value(QLatin1String("time")).toString()));
        const QJsonObject last = objects.at(1);
        QCOMPARE(last.value(QLatin1String("command")).toString(), QStringLiteral("history"));
        QCOMPARE(last.value(QLatin1String("outcome")).toString(), QStringLiteral("ok"));
        QCOMPARE(last.value(QLatin1String("exit_status")).toInt(-1), 0);
        QCOMPARE(last.value(QLatin1String("record_count")).toInt(-1), 1);
    }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<SettingsSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestWineRecords)
#include "tst_wine_records.moc"
