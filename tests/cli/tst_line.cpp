// modulebench-cli on a production line: chosen ports, several fixtures served at once, records that can be
// trusted (whole lines only, on lines of their own, only into regular files), stops that never leave a
// module half done, and the final JSON object every run ends with. Real processes throughout: the program,
// modulebench-sim on pseudo-terminals linked as COMn in a private configuration folder.
#include "cli_process.h"
#include "frame_layer.h"
#include "settings_store.h"
#include "window_rig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString kVersion = QStringLiteral("03.20-01");
const QString kCustomer = QStringLiteral("ACME WAREHOUSE NORTH 012345678");
const QString kOldHeader = QStringLiteral("time,port,line_settings,serial_number,version,customer_register,outcome");
const QString kHeader = kOldHeader + QStringLiteral(",station,duration_ms");

QStringList identity(const QString &serial, const QStringList &more = {})
{
    return QStringList{QStringLiteral("--serial"), serial, QStringLiteral("--firmware"), kVersion,
                       QStringLiteral("--customer"), kCustomer}
           + more;
}

// Whether the process has its own handler for SIGINT, from the caught-signals mask in /proc.
bool catchesInterrupt(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGINT - 1)) & 1;
    }
    return false;
}

// The records of a CSV file by serial number; fails the test on a serial number recorded twice.
QMap<QString, QStringList> recordsBySerial(const QStringList &lines, const QStringList &columns)
{
    QMap<QString, QStringList> records;
    const int serialColumn = columns.indexOf(QStringLiteral("serial_number"));
    for (const QString &line : lines.mid(1)) {
        // Commas inside quotes (the line settings) separate nothing.
        static const QRegularExpression separator(QStringLiteral(",(?=(?:[^\"]*\"[^\"]*\")*[^\"]*$)"));
        const QStringList fields = line.split(separator);
        records.insert(fields.value(serialColumn) + (records.contains(fields.value(serialColumn)) ? "#again" : ""),
                       fields);
    }
    return records;
}

// Requests another program sent a module and left it to answer: written to its line at the module's line
// settings in one go, the line closed again at once.
bool leaveRequests(const QString &device, const QByteArray &command, int count)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios line{};
    bool done = ::tcgetattr(fd, &line) == 0 && ::cfsetispeed(&line, B19200) == 0 && ::cfsetospeed(&line, B19200) == 0
        && ::tcsetattr(fd, TCSANOW, &line) == 0;
    const QByteArray frames = FrameLayer::buildFrame(command).repeated(count);
    done = done && ::write(fd, frames.constData(), size_t(frames.size())) == frames.size();
    ::close(fd);
    return done;
}

} // namespace

class TestLine : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { r.reset(); }

    // Three fixtures at once, modules plugged in and out at different times, one of them slow: each module
    // gets exactly one record naming its port; --count ends the run; nothing is stored.
    void gangWatchGivesOneRecordPerModule()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        const bool storeBefore = QFileInfo::exists(r->settingsFile());
        const QByteArray storedBefore = fileBytes(r->settingsFile());
        CliProcess cli;
        QVERIFY(cli.start({"watch", "--port", "3-4", "--port", "COM6", "--csv", csv, "--json", "--station",
                           "bench-7", "--count", "5"}));
        QVERIFY(waitFor([&] { return fileLines(csv).size() == 1; }, 5000));
        const auto recorded = [&] { return fileLines(csv).size() - 1; };

        QVERIFY(r->addModule(3, identity("KV000031")));
        // A slow module at COM4 holds nobody else up.
        QVERIFY(r->addModule(4, identity("KV000041", {"--delay", "120"})));
        QVERIFY2(waitFor([&] { return recorded() == 2; }, 15000), qPrintable(fileLines(csv).join('\n')));
        QVERIFY(r->addModule(6, identity("KV000061")));
        r->unplug(3);
        QVERIFY2(waitFor([&] { return recorded() == 3; }, 15000), qPrintable(fileLines(csv).join('\n')));
        QVERIFY(r->addModule(3, identity("KV000032")));
        QVERIFY2(waitFor([&] { return recorded() == 4; }, 15000), qPrintable(fileLines(csv).join('\n')));
        // A module left in its fixture meanwhile is not read again.
        QTest::qWait(1000);
        QCOMPARE(recorded(), 4);
        r->unplug(4);
        QVERIFY(r->addModule(4, identity("KV000042")));

        const CliRun run = cli.wait(15000);
        QVERIFY2(run.finished && run.exitCode == 0, run.describe());
        const QStringList lines = fileLines(csv);
        QCOMPARE(lines.first(), kHeader);
        const QMap<QString, QStringList> records = recordsBySerial(lines, kHeader.split(','));
        const QMap<QString, QString> expected{{"KV000031", "COM3"}, {"KV000041", "COM4"}, {"KV000061", "COM6"},
                                              {"KV000032", "COM3"}, {"KV000042", "COM4"}};
        QCOMPARE(records.keys(), expected.keys());
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const QStringList fields = records.value(it.key());
            QCOMPARE(fields.value(1), it.value());
            QCOMPARE(fields.value(6), QStringLiteral("ok"));
            QCOMPARE(fields.value(7), QStringLiteral("bench-7"));
            bool number = false;
            QVERIFY(fields.value(8).toInt(&number) > 0 && number);
        }

        // One JSON object per module, then the one final object.
        const QList<QJsonObject> objects = run.records();
        QCOMPARE(objects.size(), 6);
        for (const QJsonObject &object : objects.mid(0, 5))
            QVERIFY(!object.contains("command") && expected.contains(object.value("serial_number").toString()));
        const QJsonObject final = objects.last();
        QCOMPARE(final.value("command").toString(), QStringLiteral("watch"));
        QCOMPARE(final.value("exit_status").toInt(-1), 0);
        QCOMPARE(final.value("module_count").toInt(), 5);
        QCOMPARE(final.value("outcome_counts").toObject(), QJsonObject({{"ok", 5}}));
        QVERIFY2(run.errors().contains(QLatin1String("5 modules: 5 ok")), run.err);
        // Several fixtures do not take turns at the one stored place: the store is as it was, or still absent.
        QCOMPARE(QFileInfo::exists(r->settingsFile()), storeBefore);
        QCOMPARE(fileBytes(r->settingsFile()), storedBefore);
    }

    // --port limits every command, in the order given; a stored port outside the list is not tried.
    void portListLimitsEveryCommand()
    {
        r = std::make_unique<WindowRig>();
        SimProcess *stored = r->addModule(3, identity("KV000003"));
        SimProcess *chosen = r->addModule(6, identity("KV000006"));
        QVERIFY(stored && chosen);
        {
            SettingsStore store;
            store.rememberPlace(3, store.lineSettings(), store.lineSettingsIndex());
            store.saveScanSettings();
        }
        const CliRun scan = runCli({"scan", "--port", "8", "--port", "COM6", "--json"});
        QVERIFY2(scan.finished && scan.exitCode == 0, scan.describe());
        QCOMPARE(scan.records().size(), 1);
        QCOMPARE(scan.records().first().value("serial_number").toString(), QStringLiteral("KV000006"));
        QVERIFY(requestsHeard(*stored).isEmpty());

        const CliRun ports = runCli({"ports", "--port", "6", "--port", "2-3", "--json"});
        QVERIFY2(ports.finished && ports.exitCode == 0, ports.describe());
        QStringList order;
        for (const QJsonObject &object : ports.records())
            order << object.value("port").toString();
        QCOMPARE(order, QStringList({"COM6", "COM2", "COM3", ""}));
        QCOMPARE(ports.records().last().value("command").toString(), QStringLiteral("ports"));

        const CliRun none = runCli({"clear", "--port", "7-8", "--json"});
        QVERIFY2(none.finished && none.exitCode == 6, none.describe());
        QCOMPARE(none.records().size(), 1);
        const QJsonObject result = none.records().first();
        QCOMPARE(result.value("command").toString(), QStringLiteral("clear"));
        QCOMPARE(result.value("outcome").toString(), QStringLiteral("no-port"));
        QCOMPARE(result.value("ports").toArray().size(), 2);
        QVERIFY(!requestsHeard(*chosen).contains("F06" + QByteArray(32, '*')));

        // Noise is not silence: a port that answers only with bad checks says so.
        QVERIFY(r->addModule(7, identity("KV000007", {"--bad-check"})));
        const CliRun noisy = runCli({"scan", "--port", "7", "--json"});
        QVERIFY2(noisy.finished && noisy.exitCode == 3, noisy.describe());
        QCOMPARE(noisy.records().size(), 1);
        QCOMPARE(noisy.records().first().value("outcome").toString(), QStringLiteral("bad-check"));
        QCOMPARE(noisy.records().first().value("ports").toArray().first().toObject().value("state").toString(),
                 QStringLiteral("bad-check"));

        // Bad usage still ends with the final object, and names what was wrong.
        const CliRun bad = runCli({"set-baud", "-1", "--json"});
        QVERIFY2(bad.finished && bad.exitCode == 2, bad.describe());
        QVERIFY2(bad.errors().contains(QLatin1String("\"-1\" is not one of the module's line settings")), bad.err);
        QCOMPARE(bad.records().size(), 1);
        QCOMPARE(bad.records().first().value("command").toString(), QStringLiteral("set-baud"));
        QCOMPARE(bad.records().first().value("exit_status").toInt(), 2);
    }

    // Nor is a module still answering requests another program left with it: while it works them off, its
    // replies reach every serial-number request of the scan, and the port says so.
    void aPortWithOnlyLateRepliesSaysSo()
    {
        r = std::make_unique<WindowRig>();
        // Its replies come 120 ms apart for about 12 s, so each 250 ms wait sees one whatever the load.
        SimProcess *module = r->addModule(3, identity("KV000003", {"--delay", "120", "--ignore", "S01"}));
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(leaveRequests(module->slavePath(), "V01", 100));
        const CliRun run = runCli({"scan", "--port", "3", "--json"});
        QVERIFY2(run.finished && run.exitCode == 3, run.describe());
        const QJsonObject result = run.records().value(0);
        QCOMPARE(result.value("outcome").toString(), QStringLiteral("not-found"));
        const QJsonObject port = result.value("ports").toArray().first().toObject();
        QCOMPARE(port.value("port").toString(), QStringLiteral("COM3"));
        QCOMPARE(port.value("state").toString(), QStringLiteral("late-reply"));
        QVERIFY2(port.value("text").toString().endsWith(QLatin1String("only late answers to earlier requests: the "
                                                                      "module answers too slowly?")),
                 run.out);
    }

    // Another program holding the port for a moment is no sign that the module has gone.
    void aBusyPortIsNoModuleGone()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        SimProcess *module = r->addModule(5, identity("KV000005"));
        QVERIFY(module);
        CliProcess cli;
        QVERIFY(cli.start({"watch", "--csv", csv}));
        QVERIFY(waitFor([&] { return fileLines(csv).size() == 2; }, 15000));
        for (int i = 0; i < 2; ++i) {
            DeviceHolder holder(QStringLiteral("flock"), module->slavePath());
            QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));
            QTest::qWait(1500);
            holder.stop();
            QTest::qWait(1200);
        }
        cli.signal(SIGINT);
        const CliRun run = cli.wait(5000);
        QVERIFY2(run.finished && run.exitCode == 0, run.describe());
        QCOMPARE(fileLines(csv).size(), 2);
        QCOMPARE(requestsHeard(*module).count("V01"), 1);
    }

    // On a full file system a record is written whole or not at all, and watch stops before the next module.
    void aRecordThatDoesNotFitStopsWatch()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        const QByteArray before = (kHeader + "\n").toUtf8() + QByteArray(200, 'x') + "\n";
        writeFile(csv, before);
        SimProcess *first = r->addModule(5, identity("KV000051"));
        QVERIFY(first);
        CliProcess cli;
        // Room for part of a record only.
        cli.setFileSizeLimit(before.size() + 40);
        QVERIFY(cli.start({"watch", "--csv", csv}));
        const CliRun run = cli.wait(15000);
        QVERIFY2(run.finished && run.exitCode == 1, run.describe());
        QCOMPARE(fileBytes(csv), before);
        QVERIFY2(run.errors().contains(QLatin1String("could not be written")), run.err);
        QCOMPARE(requestsHeard(*first).count("V01"), 1);
    }

    // An existing file keeps its lines and its columns; a last line without its line end keeps its own line.
    void aRecordGoesOnALineOfItsOwnInTheFilesColumns()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        writeFile(csv, (kOldHeader + "\nearlier line without its end").toUtf8());
        QVERIFY(r->addModule(5, identity("KV000052")));
        CliProcess cli;
        QVERIFY(cli.start({"watch", "--csv", csv}));
        QVERIFY(waitFor([&] { return fileLines(csv).size() == 3; }, 15000));
        cli.signal(SIGTERM);
        const CliRun run = cli.wait(5000);
        QVERIFY2(run.finished && run.exitCode == 0, run.describe());
        const QStringList lines = fileLines(csv);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(1), QStringLiteral("earlier line without its end"));
        QVERIFY2(lines.at(2).endsWith(QStringLiteral(",COM5,\"19200,e,8,1\",KV000052,%1,%2,ok").arg(kVersion, kCustomer)),
                 qPrintable(lines.at(2)));
    }

    // Only a regular file takes records: a FIFO is refused at once, before any port is touched; a name that
    // is no valid text is used as given.
    void recordsGoOnlyToARegularFileOfTheNameGiven()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        SimProcess *module = r->addModule(5, identity("KV000053"));
        QVERIFY(module);
        const QString fifo = folder.filePath(QStringLiteral("line.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        CliProcess refused;
        QVERIFY(refused.start({"watch", "--csv", fifo, "--json"}));
        const CliRun run = refused.wait(5000);
        QVERIFY2(run.finished && run.exitCode == 1, run.describe());
        QVERIFY2(run.errors().contains(QLatin1String("not a regular file")), run.err);
        QCOMPARE(run.records().size(), 1);
        QCOMPARE(run.records().first().value("command").toString(), QStringLiteral("watch"));
        QVERIFY(requestsHeard(*module).isEmpty());

        CliProcess cli;
        QVERIFY(cli.startShell(QStringLiteral("cd '%1' && exec \"$0\" watch --csv \"$(printf 'line\\377.csv')\"")
                                   .arg(folder.path())));
        const QByteArray name = QFile::encodeName(folder.path()) + "/line\xff.csv";
        QVERIFY(waitFor([&] {
            struct stat info {};
            return ::stat(name.constData(), &info) == 0 && info.st_size > kHeader.size() + 1;
        }, 15000));
        cli.signal(SIGINT);
        const CliRun watched = cli.wait(5000);
        QVERIFY2(watched.finished && watched.exitCode == 0, watched.describe());
        // Not under a name with the bad byte replaced.
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("line\uFFFD.csv"))));
        ::unlink(name.constData());
    }

    // A stop before the clearing is written leaves the module untouched (130); one after it lets the
    // clearing finish, and says so.
    void aStopNeverLeavesAModuleHalfDone()
    {
        r = std::make_unique<WindowRig>();
        const QByteArray clearing = "F06" + QByteArray(32, '*');
        SimProcess *module = r->addModule(3, identity("KV000054", {"--delay", "100"}));
        QVERIFY(module);
        CliProcess early;
        QVERIFY(early.start({"clear", "--json"}));
        // As soon as the program takes Ctrl-C as its own (before that, the system ends it), before any request.
        QVERIFY(waitFor([&] { return catchesInterrupt(early.processId()); }, 5000));
        early.signal(SIGINT);
        const CliRun stopped = early.wait(10000);
        QVERIFY2(stopped.finished && stopped.exitCode == 130, stopped.describe());
        QVERIFY(!requestsHeard(*module).contains(clearing));
        QCOMPARE(stopped.records().size(), 1);
        QCOMPARE(stopped.records().first().value("outcome").toString(), QStringLiteral("interrupted"));
        QCOMPARE(stopped.records().first().value("command").toString(), QStringLiteral("clear"));

        CliProcess late;
        QVERIFY(late.start({"clear", "--json"}));
        QVERIFY(waitFor([&] { return requestsHeard(*module).contains(clearing); }, 15000));
        late.signal(SIGINT);
        const CliRun finished = late.wait(10000);
        QVERIFY2(finished.finished && finished.exitCode == 0, finished.describe());
        QVERIFY2(finished.errors().contains(QLatin1String("finished first")), finished.err);
        QCOMPARE(finished.records().size(), 1);
        QCOMPARE(finished.records().first().value("serial_number").toString(), QStringLiteral("KV000054"));
        QCOMPARE(finished.records().first().value("outcome").toString(), QStringLiteral("ok"));
    }

    // watch --set-baud X also looks at X: a module already there is recorded as such, and not moved.
    void watchSeesAModuleAlreadyAtTheNewSetting()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        SimProcess *module = r->addModule(4, identity("KV000055", {"--line-settings-index", "6"}));
        QVERIFY(module);
        CliProcess cli;
        QVERIFY(cli.start({"watch", "--set-baud", "38400,n,8,1", "--csv", csv}));
        QVERIFY(waitFor([&] { return fileLines(csv).size() == 2; }, 20000));
        cli.signal(SIGINT);
        const CliRun run = cli.wait(5000);
        QVERIFY2(run.finished, run.describe());
        QVERIFY2(fileLines(csv).at(1).contains(QLatin1String(",COM4,\"38400,n,8,1\",KV000055,")), qPrintable(fileLines(csv).at(1)));
        QVERIFY2(fileLines(csv).at(1).contains(QLatin1String(",already-set,")), qPrintable(fileLines(csv).at(1)));
        QVERIFY(!requestsHeard(*module).contains("E016"));
    }

    // Ctrl-C while a module is being set up: it is finished first, and said so; a module that failed makes
    // the run fail, in the summary and the final object.
    void ctrlCDuringAModuleFinishesItFirst()
    {
        r = std::make_unique<WindowRig>();
        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("line.csv"));
        // Takes the clearing, never the baud-rate change.
        SimProcess *module = r->addModule(5, identity("KV000056", {"--delay", "100", "--ignore", "E01"}));
        QVERIFY(module);
        CliProcess cli;
        QVERIFY(cli.start({"watch", "--clear", "--set-baud", "38400,n,8,1", "--csv", csv, "--json"}));
        QVERIFY(waitFor([&] { return requestsHeard(*module).contains("F06" + QByteArray(32, '*')); }, 15000));
        cli.signal(SIGINT);
        const CliRun run = cli.wait(15000);
        QVERIFY2(run.finished && run.exitCode == 5, run.describe());
        QVERIFY2(run.errors().contains(QLatin1String("module KV000056 at COM5 is finished first")), run.err);
        QVERIFY(requestsHeard(*module).contains("E016"));
        QCOMPARE(fileLines(csv).size(), 2);
        QVERIFY2(fileLines(csv).at(1).contains(QLatin1String(",set-baud-refused,")), qPrintable(fileLines(csv).at(1)));
        QVERIFY2(run.errors().contains(QLatin1String("1 module: 1 set-baud-refused")), run.err);
        const QList<QJsonObject> objects = run.records();
        QCOMPARE(objects.size(), 2);
        QCOMPARE(objects.last().value("command").toString(), QStringLiteral("watch"));
        QCOMPARE(objects.last().value("exit_status").toInt(), 5);
        QCOMPARE(objects.last().value("outcome").toString(), QStringLiteral("set-baud-refused"));
        QCOMPARE(objects.last().value("ended_by").toString(), QStringLiteral("interrupt"));
    }

    // A module that takes the clearing and then answers nothing: whether its register was cleared is not
    // known, and neither the record nor the line the operator reads says "Ok".
    void aClearingNotReadBackIsNeverOk()
    {
        r = std::make_unique<WindowRig>();
        for (const bool json : {true, false}) {
            SimProcess *module = r->addModule(5, identity("KV000057", {"--silent-after", "F06"}));
            QVERIFY2(module, qPrintable(r->lastError()));
            QStringList arguments{"watch", "--clear", "--port", "5", "--count", "1"};
            if (json)
                arguments << "--json";
            CliProcess cli;
            QVERIFY(cli.start(arguments));
            const CliRun run = cli.wait(30000);
            QVERIFY2(run.finished && run.exitCode == 7, run.describe());
            QVERIFY(requestsHeard(*module).contains("F06" + QByteArray(32, '*')));
            QVERIFY2(!run.text().contains(QLatin1String("Clear Customer Register Ok")), run.describe());
            const QString unconfirmed = QStringLiteral("whether it was cleared is not known");
            if (json) {
                const QJsonObject record = run.records().first();
                QCOMPARE(record.value("outcome").toString(), QStringLiteral("clear-unconfirmed"));
                QVERIFY2(record.value("message").toString().contains(unconfirmed), run.describe());
                QVERIFY(record.value("customer_register_read_back").isNull());
                // The run's final object has every key the others have.
                const QJsonObject final = run.records().last();
                QCOMPARE(final.value("message").toString(), QStringLiteral("1 module: 1 clear-unconfirmed"));
            } else {
                QVERIFY2(run.text().contains(unconfirmed), run.describe());
            }
            r->unplug(5);
        }
    }

private:
    std::unique_ptr<WindowRig> r;
};

QTEST_MAIN(TestLine)
#include "tst_line.moc"
