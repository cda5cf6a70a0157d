// The production line's record file: cells a spreadsheet opens as the texts they are, the system's reason
// for a record that does not fit, and no following of a link another user planted.
#include "cli_process.h"
#include "csv_log.h"
#include "record_database.h"
#include "record_file.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The cells of a flat OpenDocument spreadsheet, row by row: the text of each, and whether it holds a formula
// or a value of another kind than text.
struct Cell {
    QString text;
    QString kind; // office:value-type: string, float, date...; empty for an empty cell
    bool formula = false;
};

QList<QList<Cell>> spreadsheetCells(const QByteArray &document)
{
    QList<QList<Cell>> rows;
    QXmlStreamReader xml(document);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("table-row")) {
            rows.append(QList<Cell>());
        } else if (xml.name() == QLatin1String("table-cell") && !rows.isEmpty()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            Cell cell;
            cell.kind = attributes.value(QLatin1String("office:value-type")).toString();
            cell.formula = attributes.hasAttribute(QLatin1String("table:formula"));
            const int repeated =
                qMax(1, attributes.value(QLatin1String("table:number-columns-repeated")).toInt());
            cell.text = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            for (int i = 0; i < repeated; ++i)
                rows.last().append(cell);
        }
    }
    return rows;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void cells_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("cell");
        QTest::newRow("formula") << "=1+2" << "\"'=1+2\"";
        QTest::newRow("command through plus") << "+cmd|' /C calc'!A0" << "\"'+cmd|' /C calc'!A0\"";
        QTest::newRow("at") << "@SUM(A1)" << "\"'@SUM(A1)\"";
        QTest::newRow("minus, no number") << "-1+2" << "\"'-1+2\"";
        QTest::newRow("lone minus") << "-" << "\"'-\"";
        QTest::newRow("tab first") << "\t=1" << "\"'\t=1\"";
        QTest::newRow("carriage return first") << "\r=1" << "\\x0d=1";
        QTest::newRow("negative number") << "-12" << "-12";
        QTest::newRow("number with plus") << "+3" << "+3";
        QTest::newRow("decimal") << "-0.5" << "-0.5";
        QTest::newRow("date and time") << "2026-12-09T14:34:49+01:00" << "2026-12-09T14:34:49+01:00";
        QTest::newRow("line settings") << "19200,e,8,1" << "\"19200,e,8,1\"";
        QTest::newRow("quote") << "A\"B" << "\"A\"\"B\"";
        QTest::newRow("terminal escape") << "\x1b[31mRED\x07" << "\\x1b[31mRED\\x07";
        QTest::newRow("line end inside") << "A\nB" << "A\\x0aB";
        QTest::newRow("C1 control") << QString(QChar(0x9b)) + "2J" << "\\x9b2J";
        QTest::newRow("last C1 control") << QString(QChar(0x9f)) + "X" << "\\x9fX";
        QTest::newRow("delete") << "A\x7f" << "A\\x7f";
        QTest::newRow("plain text") << "DEMO CUSTOMER REGISTER 0000001" << "DEMO CUSTOMER REGISTER 0000001";
        QTest::newRow("empty") << "" << "";
    }

    void cells()
    {
        QFETCH(QString, value);
        QFETCH(QString, cell);
        QCOMPARE(CsvLog::quoted(value), cell);
    }

    // What the program writes, opened in a spreadsheet: the registers come back as texts, no formula computed.
    void aSpreadsheetReadsFormulaLikeRegistersAsText()
    {
        const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (office.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        QTemporaryDir folder;
        const QString csvPath = folder.filePath(QStringLiteral("records.csv"));
        const QStringList registers{QStringLiteral("=1+2"), QStringLiteral("+cmd|' /C calc'!A0"),
                                    QStringLiteral("-2+3"), QStringLiteral("@SUM(1,2)")};
        {
            CsvLog log;
            QString error;
            QVERIFY2(log.open(csvPath, {}, error), qPrintable(error));
            for (const QString &value : registers) {
                ModuleRecord record;
                record.customerRegister = value;
                record.serialNumber = QStringLiteral("-12");
                QVERIFY2(log.append(record, error), qPrintable(error));
            }
        }
        QProcess convert;
        convert.start(office, {QStringLiteral("-env:UserInstallation=file://") + folder.filePath(QStringLiteral("profile")),
                               QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("fods"),
                               QStringLiteral("--outdir"), folder.path(), csvPath});
        QVERIFY(convert.waitForFinished(180000));
        const QByteArray document = fileBytes(folder.filePath(QStringLiteral("records.fods")));
        QVERIFY2(!document.isEmpty(), convert.readAllStandardError().constData());
        const QList<QList<Cell>> rows = spreadsheetCells(document);
        const int registerColumn = int(CsvLog::kColumns.indexOf(QStringLiteral("customer_register")));
        const int serialColumn = int(CsvLog::kColumns.indexOf(QStringLiteral("serial_number")));
        QVERIFY(rows.size() > registers.size());
        for (int i = 0; i < registers.size(); ++i) {
            const QList<Cell> &row = rows.at(i + 1);
            QVERIFY(row.size() > registerColumn);
            const Cell &cell = row.at(registerColumn);
            QVERIFY2(!cell.formula && cell.kind == QLatin1String("string") && cell.text.endsWith(registers.at(i)),
                     qPrintable(registers.at(i) + QStringLiteral(" read as ") + cell.kind + QLatin1Char(' ') + cell.text));
            // A plain number stays a number.
            QCOMPARE(row.at(serialColumn).kind, QStringLiteral("float"));
            QCOMPARE(row.at(serialColumn).text, QStringLiteral("-12"));
        }
    }

    // A record cut by the file size limit gives that reason, and the file stays as it was.
    void aRecordThatDoesNotFitGivesTheSystemsReason()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("records.csv"));
        writeFile(path, "header\n");
        RecordFile file;
        QString error;
        QVERIFY2(file.open(path, {}, error), qPrintable(error));
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = 20;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool written = file.appendWhole(QByteArray(40, 'x') + '\n', error);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!written);
        QCOMPARE(error, QStringLiteral("file too large"));
        QCOMPARE(fileBytes(path), QByteArray("header\n"));
    }

    // In a folder shared like /tmp, a link another user planted is not followed, neither to an existing file
    // nor to create one; a link of the running user is.
    void aLinkOfAnotherUserInASharedFolderIsRefused()
    {
        QString reason;
        if (!canRunAsNobody(&reason))
            QSKIP(qPrintable(reason));
        QTemporaryDir folder;
        const QString shared = makeStickyFolder(folder.path(), QStringLiteral("shared"));
        QVERIFY(!shared.isEmpty());
        const QString secret = folder.filePath(QStringLiteral("secret"));
        QVERIFY(QDir().mkpath(secret));
        QCOMPARE(::chmod(QFile::encodeName(secret).constData(), 0700), 0);
        writeFile(secret + QStringLiteral("/root-only"), "root's own\n");
        QVERIFY2(runAsNobody(QStringLiteral("ln -s '%1/root-only' '%2/to-file' && ln -s '%1/new' '%2/to-new'")
                                 .arg(secret, shared),
                             &reason),
                 qPrintable(reason));
        for (const QString &name : {QStringLiteral("to-file"), QStringLiteral("to-new")}) {
            RecordFile file;
            QString error;
            QVERIFY2(!file.open(shared + QLatin1Char('/') + name, {}, error), qPrintable(name));
            QVERIFY2(error.contains(QLatin1String("link of another user")), qPrintable(error));
        }
        QCOMPARE(fileBytes(secret + QStringLiteral("/root-only")), QByteArray("root's own\n"));
        QVERIFY(!QFile::exists(secret + QStringLiteral("/new")));

        const QString own = shared + QStringLiteral("/own");
        QVERIFY(QFile::link(secret + QStringLiteral("/mine.csv"), own));
        RecordFile file;
        QString error;
        QVERIFY2(file.open(own, {}, error), qPrintable(error));
        QVERIFY2(file.appendWhole("line\n", error), qPrintable(error));
        QCOMPARE(fileBytes(secret + QStringLiteral("/mine.csv")), QByteArray("line\n"));
    }

    // A station's records file that another connection keeps writing (the fixtures, a second watch) is opened
    // for writing all the same: the opening waits its turn instead of being turned away.
    void aStationFileBeingWrittenIsWaitedFor()
    {
        QTemporaryDir folder;
        DatabaseAddress address;
        address.path = folder.filePath(QStringLiteral("records.sqlite"));
        QString error;
        {
            RecordDatabase made(address);
            QCOMPARE(made.open(RecordDatabase::Use::Write, error), DatabaseProblem::None);
        }
        std::atomic<bool> writing{true};
        std::atomic<int> written{0};
        // Four writers, each as busy as a fixture that keeps a record every millisecond or two.
        std::vector<std::thread> writers;
        for (int w = 0; w < 4; ++w) {
            writers.emplace_back([&] {
                RecordDatabase db(address);
                QString why;
                if (db.open(RecordDatabase::Use::Write, why) != DatabaseProblem::None)
                    return;
                while (writing) {
                    ModuleRecord record = ModuleRecord::make();
                    record.time = QDateTime::currentDateTimeUtc();
                    if (db.keepForServer(record, QStringLiteral("postgresql://line/records"), why))
                        ++written;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        QVERIFY(waitFor([&] { return written > 0; }, 5000));
        QStringList refused;
        for (int i = 0; i < 100; ++i) {
            RecordDatabase db(address);
            if (db.open(RecordDatabase::Use::Write, error) != DatabaseProblem::None)
                refused << error;
        }
        writing = false;
        for (std::thread &writer : writers)
            writer.join();
        QVERIFY2(refused.isEmpty(), qPrintable(QStringLiteral("%1 of 100: %2").arg(refused.size()).arg(refused.value(0))));
    }
};

QTEST_GUILESS_MAIN(TestRecords)

#include "tst_records.moc"
