#include "operation_rig.h"

#include <QtTest>
#include <memory>

namespace {

const QString kSerialBlank = QStringLiteral("S/N : ________");
const QString kVersionBlank = QStringLiteral("VER : __.__-__");
const QString kCustomerBlank = QStringLiteral("Customer : ******************************");

QStringList scanComTexts(std::initializer_list<int> ports)
{
    QStringList texts;
    for (int port : ports)
        texts << QStringLiteral("Scan COM : #%1").arg(port);
    return texts;
}

QStringList opensAt(std::initializer_list<int> ports, const QString &lineSettings)
{
    QStringList opens;
    for (int port : ports)
        opens << QStringLiteral("open %1 %2").arg(port).arg(lineSettings);
    return opens;
}

} // namespace

class TestScanOperation : public QObject {
    Q_OBJECT
private slots:
    void init() { r = std::make_unique<OperationRig>(); }
    void cleanup()
    {
        QVERIFY2(r->portDisciplineHolds(), qPrintable(r->log.join(QLatin1Char('\n'))));
        r.reset();
    }

    void firstRunSearchesEveryPortAtTheDefaultSetting()
    {
        r->module.modulePort = 7;
        r->scan();

        QCOMPARE(r->log.mid(0, 8),
                 QStringList({"cursor wait", "process", "busy 1", "text pnMsg Scan Module ....",
                              "text pnSerial " + kSerialBlank, "text pnVersion " + kVersionBlank,
                              "text pnCustomer " + kCustomerBlank, "process"}));
        QCOMPARE(r->only({"open"}), opensAt({1, 2, 3, 4, 5, 6, 7, 7}, "19200,e,8,1"));
        QCOMPARE(r->module.count("S01"), 6 * 2 + 1);
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Scan Module ...."} + scanComTexts({1, 2, 3, 4, 5, 6, 7})
                                               + QStringList{"Get Module Info Ok. (COM : #7)"});
        QCOMPARE(r->texts(InfoPanel::Serial), QStringList({kSerialBlank, "S/N : A1B2C3D4"}));
        QCOMPARE(r->texts(InfoPanel::Version), QStringList({kVersionBlank, "VER : 03.20-01"}));
        QCOMPARE(r->texts(InfoPanel::Customer),
                 QStringList({kCustomerBlank, "Customer : ACME WAREHOUSE NORTH 012345678"}));

        // The information read opens the port once more: pause, version, pause, customer register.
        const QStringList traffic = r->only({"open", "close", "send", "sleep"});
        QCOMPARE(traffic.mid(traffic.lastIndexOf("open 7 19200,e,8,1")),
                 QStringList({"open 7 19200,e,8,1", "sleep 200", "send V01", "sleep 200", "send G06", "close"}));
        QCOMPARE(r->only({"busy", "fill", "beep", "cursor"}).mid(2),
                 QStringList({"busy 0", "fill yellow", "beep 1000 300", "cursor default"}));
        QCOMPARE(r->view.selected, 5);
        QVERIFY(r->session.moduleInHand().found);

        const SettingsStore stored = r->reloaded();
        QVERIFY(!r->storedEntries().isEmpty());
        QCOMPARE(stored.portNumber(), 7);
        QCOMPARE(stored.lineSettingsIndex(), 5);
        QCOMPARE(stored.lineSettings(), QByteArray("19200,e,8,1"));
    }

    void quickAttemptFindsTheStoredPortAndWritesNothing()
    {
        r->storePort(7);
        r->module.modulePort = 7;
        r->scan();

        QCOMPARE(r->only({"open", "close", "send", "sleep", "select"}),
                 QStringList({"select 5", "open 7 19200,e,8,1", "send S01", "close", "select 5",
                              "open 7 19200,e,8,1", "sleep 200", "send V01", "sleep 200", "send G06", "close"}));
        QCOMPARE(r->texts(InfoPanel::Msg),
                 QStringList({"Scan Module ....", "Scan COM : #7", "Get Module Info Ok. (COM : #7)"}));
        QVERIFY(r->session.moduleInHand().found);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void quickAttemptOpensWithTheStoredTextNotTheTableEntry()
    {
        r->storePort(4);
        r->storeLineSettingsText("38400,n,8,1");
        r->module.modulePort = 4;
        r->module.moduleLineSettings = "38400,n,8,1";
        r->scan();

        QCOMPARE(r->only({"open"}), opensAt({4, 4}, "38400,n,8,1"));
        QCOMPARE(r->only({"select"}), QStringList({"select 5", "select 5"}));
        QVERIFY(r->session.moduleInHand().found);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void quickAttemptGivesUpAfterThreeRequestsAndTheSearchStoresAgain()
    {
        r->storePort(3);
        r->module.modulePort = 3;
        r->module.unansweredFirst["S01"] = 3;
        r->scan();

        QCOMPARE(r->only({"open"}), opensAt({3, 1, 2, 3, 3}, "19200,e,8,1"));
        QCOMPARE(r->module.count("S01"), 3 + 2 + 2 + 1);
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Scan Module ...."} + scanComTexts({3, 1, 2, 3})
                                               + QStringList{"Get Module Info Ok. (COM : #3)"});
        // Found by the search at exactly the stored place: written all the same.
        QVERIFY(!r->storedEntries().isEmpty());
        QCOMPARE(r->reloaded().portNumber(), 3);
    }

    void storedPortAbove16IsTriedOnlyByTheQuickAttempt()
    {
        r->module.presentPorts.insert(20);
        r->storePort(20);
        r->module.modulePort = 20;
        r->scan();
        QCOMPARE(r->texts(InfoPanel::Msg).at(1), QStringLiteral("Scan COM : #20"));
        QCOMPARE(r->texts(InfoPanel::Msg).last(), QStringLiteral("Get Module Info Ok. (COM : #20)"));
        QVERIFY(r->session.moduleInHand().found);

        r->module.modulePort = 0;
        r->scan();
        QCOMPARE(r->only({"open"}),
                 opensAt({20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, "19200,e,8,1"));
        QCOMPARE(r->only({"send S01"}).size(), 3 + 16 * 2);
        QVERIFY(!r->session.moduleInHand().found);
    }

    void unlockedSearchTriesEveryLineSettingInTableOrder()
    {
        r->view.lock = false;
        r->module.presentPorts = {1, 2};
        r->module.modulePort = 2;
        r->module.moduleLineSettings = "57600,n,8,1";
        r->scan();

        QStringList expected;
        for (int index = 0; index < 12; ++index)
            expected << QStringLiteral("open 1 %1").arg(kLineSettingsTable[index]);
        for (int index = 0; index <= 8; ++index)
            expected << QStringLiteral("open 2 %1").arg(kLineSettingsTable[index]);
        expected << "open 2 57600,n,8,1";
        QCOMPARE(r->only({"open"}), expected);
        QCOMPARE(r->module.count("S01"), 12 * 2 + 8 * 2 + 1);

        QStringList selections;
        for (int index = 0; index < 12; ++index)
            selections << QStringLiteral("select %1").arg(index);
        for (int index = 0; index <= 8; ++index)
            selections << QStringLiteral("select %1").arg(index);
        selections << "select 8";
        QCOMPARE(r->only({"select"}), selections);

        QCOMPARE(r->settings.lineSettingsIndex(), 8);
        const SettingsStore stored = r->reloaded();
        QCOMPARE(stored.portNumber(), 2);
        QCOMPARE(stored.lineSettingsIndex(), 8);
        QCOMPARE(stored.lineSettings(), QByteArray("57600,n,8,1"));
        QVERIFY(r->session.moduleInHand().found);
    }

    void unlockedSearchWithoutTheModuleTriesEverySettingOfEveryPortThatOpens_data()
    {
        QTest::addColumn<QList<int>>("present");
        QTest::newRow("all sixteen ports") << QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
        QTest::newRow("COM2 and COM5 only") << QList<int>({2, 5});
    }
    void unlockedSearchWithoutTheModuleTriesEverySettingOfEveryPortThatOpens()
    {
        QFETCH(QList<int>, present);
        r->view.lock = false;
        r->module.presentPorts = QSet<int>(present.begin(), present.end());
        r->scan();

        // A port that does not open is left at once: no other line setting is tried on it.
        QStringList expected;
        for (int port = 1; port <= 16; ++port) {
            if (!present.contains(port)) {
                expected << QStringLiteral("open %1 4800,n,8,1 failed").arg(port);
                continue;
            }
            for (int index = 0; index < 12; ++index)
                expected << QStringLiteral("open %1 %2").arg(port).arg(kLineSettingsTable[index]);
        }
        QCOMPARE(r->only({"open"}), expected);
        QCOMPARE(r->module.count("S01"), int(present.size()) * 12 * 2);
        QVERIFY(r->module.count("S01") <= 384);
        QCOMPARE(r->texts(InfoPanel::Msg).last(), QStringLiteral("Module Not Find"));
        QCOMPARE(r->view.selected, 5);
        QCOMPARE(r->settings.lineSettingsIndex(), 5);
        QVERIFY(!r->session.moduleInHand().found);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void reportHasOneLinePerPortVisited()
    {
        // The quick attempt at a stored port that has gone, then an unlocked search without the module.
        r->storePort(9);
        r->view.lock = false;
        r->module.presentPorts = {2, 5};
        r->module.refuseOpen = [](int port) { return port == 5; };
        r->scan();
        const QStringList lines = scanReportLines(r->scanReport, 0);
        QCOMPARE(lines.size(), 17);
        QCOMPARE(lines.at(0), QStringLiteral("COM9 (/dev/scripted/9): no such port"));
        QCOMPARE(lines.at(1), QStringLiteral("COM1 (/dev/scripted/1): no such port"));
        QCOMPARE(lines.at(2), QStringLiteral("COM2 (/dev/scripted/2): opened, no answer at 12 line settings (24 requests)"));
        QCOMPARE(lines.at(5), QStringLiteral("COM5 (/dev/scripted/5): held by another program"));
        QCOMPARE(lines.at(16), QStringLiteral("COM16 (/dev/scripted/16): no such port"));
        QCOMPARE(r->module.count("S01"), 24);

        // Found during a locked search after a quick attempt of three requests.
        r->storePort(2);
        r->view.lock = true;
        r->module.presentPorts = {2, 3};
        r->module.modulePort = 3;
        r->scan();
        QCOMPARE(scanReportLines(r->scanReport, 0),
                 QStringList({QStringLiteral("COM2 (/dev/scripted/2): opened, no answer at 19200,e,8,1 (3 requests)"),
                              QStringLiteral("COM1 (/dev/scripted/1): no such port"),
                              QStringLiteral("COM2 (/dev/scripted/2): opened, no answer at 19200,e,8,1 (2 requests)"),
                              QStringLiteral("COM3 (/dev/scripted/3): module answered")}));
        QCOMPARE(scanReportLines(r->scanReport, 2).at(3), QString::fromUtf8("COM3 (/dev/scripted/3): 模組已回應"));
        QCOMPARE(scanReportLines(r->scanReport, 7).at(3), QStringLiteral("COM3 (/dev/scripted/3): module answered"));
    }

    void lockedSearchTriesOnlyTheStoredIndexWhateverTheList()
    {
        r->view.selected = 2;
        r->module.modulePort = 4;
        r->module.moduleLineSettings = "9600,n,8,1";
        r->scan();

        QCOMPARE(r->only({"open"}).size(), 16);
        QVERIFY(r->only({"open"}).filter("19200,e,8,1").size() == 16);
        QCOMPARE(r->only({"select"}).first(), QStringLiteral("select 5"));
        QCOMPARE(r->module.count("S01"), 32);
        QCOMPARE(r->texts(InfoPanel::Msg).last(), QStringLiteral("Module Not Find"));
    }

    void lockBoxIsReadBeforeAndAfterEveryStep_data()
    {
        QTest::addColumn<bool>("lockAtStart");
        QTest::addColumn<QStringList>("opens");
        QStringList checkedLater{"open 1 4800,n,8,1", "open 2 19200,e,8,1"};
        QStringList uncheckedLater{"open 1 19200,e,8,1"};
        for (int index = 6; index < 12; ++index)
            uncheckedLater << QStringLiteral("open 1 %1").arg(kLineSettingsTable[index]);
        for (int index = 0; index < 12; ++index)
            uncheckedLater << QStringLiteral("open 2 %1").arg(kLineSettingsTable[index]);
        QTest::newRow("checked during the first step") << false << checkedLater;
        QTest::newRow("unchecked during the first step") << true << uncheckedLater;
    }
    void lockBoxIsReadBeforeAndAfterEveryStep()
    {
        QFETCH(bool, lockAtStart);
        QFETCH(QStringList, opens);
        r->module.presentPorts = {1, 2};
        r->view.lock = lockAtStart;
        r->view.onSelect = [this, lockAtStart](int) { r->view.lock = !lockAtStart; };
        r->scan();
        QCOMPARE(r->opened(), opens);
    }

    void notFoundEndsAtTheDefaultEntryAndKeepsTheStoredIndex()
    {
        r->storeLineSettingsIndex(8);
        r->storeLineSettingsText("57600,n,8,1");
        r->module.modulePort = 3; // at another setting than the one tried
        r->scan();

        QCOMPARE(r->module.count("S01"), 32);
        QCOMPARE(r->only({"open"}).filter("57600,n,8,1").size(), 16);
        QVERIFY(!r->session.moduleInHand().found);
        QCOMPARE(r->settings.lineSettingsIndex(), 8);
        QCOMPARE(r->view.selected, 5);
        QCOMPARE(r->log.mid(r->indexOf("busy 0")),
                 QStringList({"busy 0", "fill red", "select 5", "text pnMsg Module Not Find", "beep 300 300",
                              "cursor default"}));
        QCOMPARE(r->texts(InfoPanel::Serial), QStringList{kSerialBlank});
        QVERIFY(r->storedEntries().isEmpty());
    }

    void portsThatDoNotOpenAreSkippedSilently()
    {
        r->module.presentPorts.clear();
        r->storePort(5);
        r->scan();
        QCOMPARE(r->only({"open"}).size(), 17);
        QCOMPARE(r->module.opens, 0);
        QVERIFY(r->module.requests.isEmpty());
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList({"Scan Module ....", "Module Not Find"}));
    }

    void serialReplyMustBeFifteenBytes_data()
    {
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<int>("padding");
        QTest::newRow("14 bytes") << QByteArray("A1B2C3D") << 0;
        QTest::newRow("16 bytes") << QByteArray("A1B2C3D4") << 1;
    }
    void serialReplyMustBeFifteenBytes()
    {
        QFETCH(QByteArray, serial);
        QFETCH(int, padding);
        r->storePort(1);
        r->module.modulePort = 1;
        r->module.serial = serial;
        r->module.serialReplyPadding = padding;
        r->scan();
        QCOMPARE(r->module.count("S01"), 3 + 32);
        QCOMPARE(r->texts(InfoPanel::Msg).last(), QStringLiteral("Module Not Find"));
        QVERIFY(r->module.count("V01") == 0);
    }

    // The information read at the place found, as the module answers it: what goes over the wire from the
    // read's own opening on, what the panels and the indicator show, and what the store keeps.
    void informationRead_data()
    {
        QTest::addColumn<int>("storedPort"); // 0: nothing stored, the search finds the module
        QTest::addColumn<QByteArray>("lineSettings");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("readTraffic");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("selected");

        const QByteArray standard("19200,e,8,1");
        QTest::newRow("version never answered: asked twice, nothing else")
            << 0 << standard << "never V01"
            << QStringList{"open 2 19200,e,8,1", "sleep 200", "send V01", "sleep 200", "send V01", "close"}
            << kVersionBlank << false << 5;
        QTest::newRow("customer register never answered: asked once")
            << 2 << standard << "never G06"
            << QStringList{"open 2 19200,e,8,1", "sleep 200", "send V01", "sleep 200", "send G06", "close"}
            << "VER : 03.20-01" << false << 5;
        QTest::newRow("version answered at the second request")
            << 2 << standard << "first V01"
            << QStringList{"open 2 19200,e,8,1", "sleep 200", "send V01", "sleep 200", "send V01", "sleep 200",
                           "send G06", "close"}
            << "VER : 03.20-01" << true << 5;
        QTest::newRow("found at another line setting: the list stays there")
            << 0 << QByteArray("57600,n,8,1") << "never V01"
            << QStringList{"open 2 57600,n,8,1", "sleep 200", "send V01", "sleep 200", "send V01", "close"}
            << kVersionBlank << false << 8;
        QTest::newRow("port that does not open again")
            << 2 << standard << "no reopen" << QStringList{"open 2 19200,e,8,1 failed"} << kVersionBlank << false
            << 5;
    }

    void informationRead()
    {
        QFETCH(int, storedPort);
        QFETCH(QByteArray, lineSettings);
        QFETCH(QString, fault);
        QFETCH(QStringList, readTraffic);
        QFETCH(QString, version);
        QFETCH(bool, found);
        QFETCH(int, selected);

        r->view.lock = false;
        if (storedPort)
            r->storePort(storedPort);
        r->module.modulePort = 2;
        r->module.moduleLineSettings = lineSettings;
        if (fault == "never V01")
            r->module.neverAnswered.insert("V01");
        else if (fault == "never G06")
            r->module.neverAnswered.insert("G06");
        else if (fault == "first V01")
            r->module.unansweredFirst["V01"] = 1;
        else
            r->module.refuseOpen = [this](int) { return r->module.count("S01") > 0; };
        r->scan();

        const QStringList traffic = r->only({"open", "close", "send", "sleep"});
        qsizetype readOpen = traffic.size();
        while (readOpen > 0 && !traffic.at(readOpen - 1).startsWith("open "))
            --readOpen;
        QCOMPARE(traffic.mid(readOpen - 1), readTraffic);
        QCOMPARE(r->view.panel(InfoPanel::Serial), QStringLiteral("S/N : A1B2C3D4"));
        QCOMPARE(r->view.panel(InfoPanel::Version), version);
        QCOMPARE(r->texts(InfoPanel::Msg).last(),
                 found ? QStringLiteral("Get Module Info Ok. (COM : #2)") : QStringLiteral("Get Module Info Error. (COM : #2)"));
        if (found) {
            QCOMPARE(r->view.colour, kIndicatorYellow);
        } else {
            QCOMPARE(r->view.panel(InfoPanel::Customer), kCustomerBlank);
            QCOMPARE(r->log.mid(r->indexOf("busy 0")),
                     QStringList({"busy 0", "fill red", "beep 300 300", "cursor default"}));
        }
        QCOMPARE(r->session.moduleInHand().found, found);
        QCOMPARE(r->view.selected, selected);
        QCOMPARE(r->only({"select"}).last(), QStringLiteral("select %1").arg(selected));
        // A search stores its place before the information read begins; a quick attempt stores nothing.
        if (storedPort) {
            QVERIFY(r->storedEntries().isEmpty());
        } else {
            const SettingsStore stored = r->reloaded();
            QCOMPARE(stored.portNumber(), 2);
            QCOMPARE(stored.lineSettingsIndex(), selected);
            QCOMPARE(stored.lineSettings(), lineSettings);
        }
    }

    void moduleValuesAreShownAsLatin1()
    {
        r->storePort(1);
        r->module.modulePort = 1;
        r->module.serial = QByteArray("\xE9\xFC\xB5" "12345");
        r->module.version = QByteArray("V\xB0" "1.2-03");
        r->scan();
        QCOMPARE(r->view.panel(InfoPanel::Serial), QStringLiteral("S/N : ") + QString::fromLatin1("\xE9\xFC\xB5" "12345"));
        QCOMPARE(r->view.panel(InfoPanel::Version), QStringLiteral("VER : ") + QString::fromLatin1("V\xB0" "1.2-03"));
    }

    void laterFailedScanResetsPanelsAndModuleFound()
    {
        r->module.modulePort = 1;
        r->scan();
        QVERIFY(r->session.moduleInHand().found);

        r->module.modulePort = 0;
        r->scan();
        QVERIFY(!r->session.moduleInHand().found);
        QCOMPARE(r->texts(InfoPanel::Serial), QStringList{kSerialBlank});
        QCOMPARE(r->view.panel(InfoPanel::Customer), kCustomerBlank);

        r->changeBaudRate();
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Start Scan Module!"});
        QVERIFY(r->only({"open"}).isEmpty());
    }

    void storedIndexOutOfRangeNeverLeavesTheTable()
    {
        r->storeLineSettingsIndex(42);
        r->module.modulePort = 2;
        r->scan();
        QCOMPARE(r->only({"open"}), opensAt({1, 2, 2}, "19200,e,8,1"));
        QVERIFY(r->only({"select"}).filter("42").isEmpty());
        QCOMPARE(r->settings.lineSettingsIndex(), 5);
        QVERIFY(r->session.moduleInHand().found);
    }

    void textsFollowTheLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("present");
        QTest::newRow("ChineseGB, found") << 1 << true;
        QTest::newRow("ChineseBIG5, found") << 2 << true;
        QTest::newRow("ChineseBIG5, not found") << 2 << false;
    }
    void textsFollowTheLanguage()
    {
        QFETCH(int, language);
        QFETCH(bool, present);
        r->useLanguage(language);
        r->module.presentPorts = {3};
        r->module.modulePort = present ? 3 : 0;
        r->scan();
        const MessageTable &m = r->messages;
        const QStringList msg = r->texts(InfoPanel::Msg);
        QCOMPARE(msg.first(), m.text(11, language) + " ....");
        QCOMPARE(msg.at(1), m.text(15, language) + " : #3");
        QCOMPARE(msg.last(), present ? m.text(16, language) + " : #3)" : m.text(18, language));
        QVERIFY(msg.last() != (present ? m.text(16, 0) + " : #3)" : m.text(18, 0)));
        QCOMPARE(r->texts(InfoPanel::Serial).first(), m.text(12, language) + " : ________");
        QCOMPARE(r->texts(InfoPanel::Version).first(), m.text(14, language) + " : __.__-__");
        QCOMPARE(r->texts(InfoPanel::Customer).first(), m.text(22, language) + " : " + QString(30, '*'));
    }

    // The parallel search on the one clock: COM2's module answers only at the last line setting, COM3's
    // at the first, some 6 s sooner. The serial search reaches COM2's first, after COM1 to its end; so
    // must the parallel one, and no port's time-out may be cut short by the other threads' waits.
    void parallelSearchGivesTheSerialAnswerWithEveryTimeOut()
    {
        const auto script = [](OperationRig &rig) {
            rig.module.presentPorts = {1, 2, 3, 4};
            rig.module.modulePort = 2;
            rig.module.moduleLineSettings = kLineSettingsTable[kLineSettingsCount - 1];
            rig.module.otherModules.insert(3, {kLineSettingsTable[0], "Z9Y8X7W6"});
            rig.view.lock = false;
        };
        ScanScope scope;
        scope.ports = {1, 2, 3, 4};
        script(*r);
        std::uint32_t start = r->clock.milliseconds();
        r->scan(scope);
        const std::uint32_t serialMs = r->clock.milliseconds() - start;
        const ScanResult serial = r->scanResult;
        QVERIFY(r->portDisciplineHolds());
        QCOMPARE(serial.place.portNumber, 2);

        r = std::make_unique<OperationRig>();
        script(*r);
        scope.parallel = true;
        start = r->clock.milliseconds();
        r->scan(scope);
        const std::uint32_t parallelMs = r->clock.milliseconds() - start;
        const ScanResult &parallel = r->scanResult;
        QVERIFY(!r->clock.gaveUpWaiting());
        QCOMPARE(parallel.outcome, serial.outcome);
        QCOMPARE(parallel.place.portNumber, serial.place.portNumber);
        QCOMPARE(parallel.place.lineSettingsIndex, serial.place.lineSettingsIndex);
        QCOMPARE(parallel.serialNumber, serial.serialNumber);
        QCOMPARE(scanReportLines(parallel.report, 0), scanReportLines(serial.report, 0));
        QCOMPARE(r->settings.portNumber(), 2);
        QCOMPARE(r->settings.lineSettingsIndex(), kLineSettingsCount - 1);
        // Side by side: about one port's time, not COM1's and COM2's one after the other.
        QVERIFY2(parallelMs < serialMs * 3 / 4, qPrintable(QStringLiteral("%1 ms against %2 ms").arg(parallelMs).arg(serialMs)));

        const QMap<int, const ScriptedModule *> ports = r->searchPorts();
        QCOMPARE(ports.keys(), QList<int>({1, 2, 3, 4}));
        QCOMPARE(ports[1]->requests.size(), 2 * kLineSettingsCount);
        // The answering port reads the module itself; COM3, found first but after COM2 in the list, opened for
        // its read and closed unasked once COM2 answered.
        QCOMPARE(ports[2]->count("V01"), 1);
        QCOMPARE(ports[2]->count("G06"), 1);
        QCOMPARE(ports[3]->count("V01"), 0);
        QCOMPARE(r->module.count("V01"), 0);
        QCOMPARE(ports[3]->opens, 2);
        QCOMPARE(parallel.version, serial.version);
        QCOMPARE(parallel.customerRegister, serial.customerRegister);
        for (const ScriptedModule *port : ports) {
            QVERIFY(port->openViolations == 0 && port->opens == port->closes);
            // After a request left unanswered, the next one only once the reply time-out after the last write
            // pause is over. After an answer, the information read follows its own pause.
            const auto &times = port->requestTimes;
            for (qsizetype i = 1; i < times.size(); ++i)
                QVERIFY2(port->requestsAnswered.at(i - 1)
                             || times[i].first - times[i - 1].second >= FrameLayer::kReplyTimeoutMs,
                         qPrintable(QStringLiteral("COM%1, requests %2 and %3: %4 ms apart")
                                        .arg(port->portNumber())
                                        .arg(i)
                                        .arg(i + 1)
                                        .arg(times[i].first - times[i - 1].second)));
        }
    }

private:
    std::unique_ptr<OperationRig> r;
};

QTEST_GUILESS_MAIN(TestScanOperation)
#include "tst_scan_operation.moc"
