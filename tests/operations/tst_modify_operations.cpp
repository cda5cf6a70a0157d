#include "operation_rig.h"

#include <QtTest>
#include <iterator>
#include <memory>

namespace {

const QString kCustomerBlank = QStringLiteral("Customer : ******************************");

enum class Operation { BaudRate, Clear };

// What either operation returned that the console program builds its outcome from.
struct Change {
    ChangeOutcome outcome;
    FrameReply::Kind failedReply;
    CommandAttempts attempts;

    // Per attempt: "-" nothing sent, "sent" without an acknowledgement, "acknowledged".
    QStringList attemptsSaid() const
    {
        QStringList said;
        for (const CommandAttempt &attempt : attempts.each)
            said << (attempt.acknowledged ? "acknowledged" : attempt.sent ? "sent" : "-");
        return said;
    }
};

Change changeOf(const BaudRateResult &result)
{
    return {result.outcome, result.failedReply, result.attempts};
}

Change changeOf(const ClearResult &result)
{
    return {result.outcome, result.failedReply, result.attempts};
}

} // namespace

// Names in a failed comparison instead of numbers.
char *toString(ChangeOutcome outcome)
{
    static const char *const kNames[] = {"Accepted",           "NoScan",  "NoLineSettingsSelected", "PortNotOpened",
                                         "ModuleNotConfirmed", "Refused", "Stopped"};
    const int index = int(outcome);
    return qstrdup(index >= 0 && index < int(std::size(kNames)) ? kNames[index] : "?");
}

char *toString(FrameReply::Kind kind)
{
    return qstrdup(replyKindKey(kind));
}

Q_DECLARE_METATYPE(Operation)

// The baud-rate change and the clearing: both confirm the module with a serial-number request first.
class TestModifyOperations : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        r = std::make_unique<OperationRig>();
        // A complete scan that found the module on COM7 (the place not stored, so that what the changes store
        // shows); only what comes after it is looked at.
        r->module.modulePort = 7;
        ScanScope unstored;
        unstored.storeFound = false;
        r->scanResult = r->session.scan(r->view, unstored);
        QVERIFY(r->scanResult.complete() && r->settings.portNumber() == 7);
        r->module.requests.clear();
        r->module.opens = r->module.closes = 0;
        r->view.panels[InfoPanel::Customer] = QStringLiteral("Customer : read by the scan");
    }
    void cleanup()
    {
        QVERIFY2(r->portDisciplineHolds(), qPrintable(r->log.join(QLatin1Char('\n'))));
        r.reset();
    }

    void refusedWithoutAModuleFound_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::newRow("baud rate") << Operation::BaudRate;
        QTest::newRow("clear") << Operation::Clear;
    }
    void refusedWithoutAModuleFound()
    {
        QFETCH(Operation, operation);
        r->session.loadSettings(); // as at a new start: no module found yet
        const Change change = run(operation);
        QCOMPARE(change.outcome, ChangeOutcome::NoScan);
        QCOMPARE(change.failedReply, FrameReply::Kind::Good);
        QCOMPARE(r->log, QStringList({"cursor wait", "enabled 0", "process", "fill red",
                                      "text pnMsg Start Scan Module!", "beep 300 300", "enabled 1",
                                      "cursor default"}));
        QCOMPARE(r->view.panel(InfoPanel::Customer), QStringLiteral("Customer : read by the scan"));
        QCOMPARE(r->settings.lineSettingsIndex(), 5);
    }

    void refusedAfterAnInformationError()
    {
        r->session.loadSettings(); // as at a new start: no module found yet
        r->module.neverAnswered.insert("V01");
        r->scan();
        QCOMPARE(r->texts(InfoPanel::Msg).last(), QStringLiteral("Get Module Info Error. (COM : #7)"));
        QCOMPARE(r->clear().outcome, ChangeOutcome::NoScan);
        QVERIFY(r->only({"open"}).isEmpty());
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Start Scan Module!"});
    }

    void baudRateChangeSucceeds()
    {
        r->view.selected = 6;
        const BaudRateResult result = r->changeBaudRate();
        QCOMPARE(result.outcome, ChangeOutcome::Accepted);
        QCOMPARE(result.failedReply, FrameReply::Kind::Good);
        QCOMPARE(result.portNumber, 7);
        QCOMPARE(result.lineSettingsIndex, 6);
        QCOMPARE(result.lineSettings, QByteArray("38400,n,8,1"));
        QCOMPARE(result.previousLineSettings, QByteArray("19200,e,8,1"));

        QCOMPARE(r->only({"open", "close", "send", "sleep"}),
                 QStringList({"open 7 19200,e,8,1", "sleep 200", "send S01", "sleep 200", "send E016", "close"}));
        QCOMPARE(r->texts(InfoPanel::Msg),
                 QStringList({"Set Module BaudRate = 38400,n,8,1", "Set Module BaudRate Ok"}));
        QCOMPARE(r->log.mid(r->indexOf("close")),
                 QStringList({"close", "fill yellow", "text pnMsg Set Module BaudRate Ok", "beep 1000 300",
                              "enabled 1", "cursor default"}));
        QCOMPARE(r->log.mid(0, 3), QStringList({"cursor wait", "enabled 0", "process"}));
        QVERIFY(r->only({"select", "busy"}).isEmpty());
        QCOMPARE(r->view.selected, 6);
        QCOMPARE(r->settings.lineSettingsIndex(), 6);
        QCOMPARE(r->settings.lineSettings(), QByteArray("38400,n,8,1"));
        QCOMPARE(r->settings.portNumber(), 7);
        QVERIFY(r->session.moduleInHand().found);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void baudCodeOfEveryKindOfIndex_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("shown");
        QTest::newRow("0") << 0 << QByteArray("E010") << "4800,n,8,1";
        QTest::newRow("3") << 3 << QByteArray("E013") << "9600,e,8,1";
        QTest::newRow("5, the one stored") << 5 << QByteArray("E015") << "19200,e,8,1";
        QTest::newRow("9") << 9 << QByteArray("E019") << "57600,e,8,1";
        QTest::newRow("10") << 10 << QByteArray("E01A") << "115200,n,8,1";
        QTest::newRow("11") << 11 << QByteArray("E01B") << "115200,e,8,1";
    }
    void baudCodeOfEveryKindOfIndex()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, command);
        QFETCH(QString, shown);
        r->view.selected = index;
        QCOMPARE(r->changeBaudRate().outcome, ChangeOutcome::Accepted);
        QCOMPARE(r->module.requests, QList<QByteArray>({"S01", command}));
        QCOMPARE(r->texts(InfoPanel::Msg).first(), "Set Module BaudRate = " + shown);
        QCOMPARE(r->settings.lineSettings(), shown.toLatin1());
        QCOMPARE(r->module.moduleLineSettings, shown.toLatin1());
    }

    void unansweredCommandRepeatsThePair_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("failure");
        QTest::newRow("baud rate") << Operation::BaudRate << QByteArray("E018") << "Set Module BaudRate Error";
        QTest::newRow("clear") << Operation::Clear << "F06" + QByteArray(32, '*') << "Clear Customer Register Error";
    }
    void unansweredCommandRepeatsThePair()
    {
        QFETCH(Operation, operation);
        QFETCH(QByteArray, command);
        QFETCH(QString, failure);
        r->view.selected = 8;
        r->module.neverAnswered.insert(command.left(3));
        const Change change = run(operation);
        // Confirmed, then silent to the command: refused, not unconfirmed; sent twice, never acknowledged.
        QCOMPARE(change.outcome, ChangeOutcome::Refused);
        QCOMPARE(change.failedReply, FrameReply::Kind::TimedOut);
        QCOMPARE(change.attemptsSaid(), QStringList({"sent", "sent"}));
        QVERIFY(change.attempts.unacknowledged());
        const QString send = "send " + QString::fromLatin1(command);
        QCOMPARE(r->only({"open", "close", "send", "sleep"}),
                 QStringList({"open 7 19200,e,8,1", "sleep 200", "send S01", "sleep 200", send, "sleep 200",
                              "send S01", "sleep 200", send, "close"}));
        QCOMPARE(r->log.mid(r->indexOf("close")),
                 QStringList({"close", "fill red", "text pnMsg " + failure, "beep 300 300", "enabled 1",
                              "cursor default"}));
        QCOMPARE(r->settings.lineSettingsIndex(), 5);
        QCOMPARE(r->settings.lineSettings(), QByteArray("19200,e,8,1"));
        QVERIFY(r->session.moduleInHand().found);
        QVERIFY(r->only({"select", "busy"}).isEmpty());
        QCOMPARE(r->view.selected, 8);
        if (operation == Operation::Clear)
            QCOMPARE(r->view.panel(InfoPanel::Customer), kCustomerBlank);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void unansweredSerialNumberSendsNoCommand_data() { unansweredCommandRepeatsThePair_data(); }
    void unansweredSerialNumberSendsNoCommand()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, failure);
        r->view.selected = 8;
        r->module.neverAnswered.insert("S01");
        const Change change = run(operation);
        QCOMPARE(change.outcome, ChangeOutcome::ModuleNotConfirmed);
        QCOMPARE(change.failedReply, FrameReply::Kind::TimedOut);
        QCOMPARE(change.attemptsSaid(), QStringList({"-", "-"}));
        QVERIFY(!change.attempts.unacknowledged());
        QCOMPARE(r->only({"open", "close", "send", "sleep"}),
                 QStringList({"open 7 19200,e,8,1", "sleep 200", "send S01", "sleep 200", "send S01", "close"}));
        QCOMPARE(r->texts(InfoPanel::Msg).last(), failure);
    }

    void serialNumberAnsweredAtTheSecondRequest_data() { unansweredCommandRepeatsThePair_data(); }
    void serialNumberAnsweredAtTheSecondRequest()
    {
        QFETCH(Operation, operation);
        QFETCH(QByteArray, command);
        r->view.selected = 8;
        r->module.unansweredFirst["S01"] = 1;
        const Change change = run(operation);
        // The first request's silence is forgotten once the module answers.
        QCOMPARE(change.outcome, ChangeOutcome::Accepted);
        QCOMPARE(change.failedReply, FrameReply::Kind::Good);
        QCOMPARE(change.attemptsSaid(), QStringList({"-", "acknowledged"}));
        QCOMPARE(r->only({"send", "sleep"}),
                 QStringList({"sleep 200", "send S01", "sleep 200", "send S01", "sleep 200",
                              "send " + QString::fromLatin1(command)}));
        QCOMPARE(r->view.colour, kIndicatorYellow);
    }

    void portThatDoesNotOpen_data() { unansweredCommandRepeatsThePair_data(); }
    void portThatDoesNotOpen()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, failure);
        r->module.presentPorts.remove(7);
        QCOMPARE(run(operation).outcome, ChangeOutcome::PortNotOpened);
        QCOMPARE(r->only({"open", "close", "send", "sleep"}), QStringList{"open 7 19200,e,8,1 failed"});
        QCOMPARE(r->texts(InfoPanel::Msg).last(), failure);
        QCOMPARE(r->view.colour, kIndicatorRed);
        if (operation == Operation::Clear)
            QCOMPARE(r->view.panel(InfoPanel::Customer), kCustomerBlank);
    }

    void baudRateWithoutAValidSelectionSendsNothing()
    {
        r->view.selected = -1;
        QCOMPARE(r->changeBaudRate().outcome, ChangeOutcome::NoLineSettingsSelected);
        QVERIFY(r->only({"open"}).isEmpty());
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Set Module BaudRate Error"});
        QCOMPARE(r->log.mid(3), QStringList({"fill red", "text pnMsg Set Module BaudRate Error", "beep 300 300",
                                             "enabled 1", "cursor default"}));
    }

    void clearSucceedsWithThirtyTwoAsterisksSentAndThirtyShown()
    {
        const ClearResult result = r->clear();
        QCOMPARE(result.outcome, ChangeOutcome::Accepted);
        QCOMPARE(result.failedReply, FrameReply::Kind::Good);
        QCOMPARE(result.portNumber, 7);
        QCOMPARE(r->module.requests, QList<QByteArray>({"S01", "F06" + QByteArray(32, '*')}));
        QCOMPARE(r->texts(InfoPanel::Customer), QStringList{kCustomerBlank});
        QVERIFY(r->indexOf("text pnCustomer " + kCustomerBlank) < r->indexOf("open 7 19200,e,8,1"));
        QCOMPARE(r->log.mid(r->indexOf("close")),
                 QStringList({"close", "fill yellow", "text pnMsg Clear Customer Register Ok", "beep 1000 300",
                              "enabled 1", "cursor default"}));
        QCOMPARE(r->texts(InfoPanel::Msg), QStringList{"Clear Customer Register Ok"});
        QVERIFY(r->session.moduleInHand().found);
        QVERIFY(r->storedEntries().isEmpty());
    }

    void laterOperationsUseTheNewLineSettings()
    {
        r->view.selected = 10;
        QCOMPARE(r->changeBaudRate().outcome, ChangeOutcome::Accepted);
        QCOMPARE(r->view.colour, kIndicatorYellow);

        QCOMPARE(r->clear().outcome, ChangeOutcome::Accepted);
        QCOMPARE(r->only({"open"}), QStringList{"open 7 115200,n,8,1"});
        QCOMPARE(r->view.colour, kIndicatorYellow);

        r->scan();
        QCOMPARE(r->only({"open"}), QStringList({"open 7 115200,n,8,1", "open 7 115200,n,8,1"}));
        QCOMPARE(r->only({"send S01"}).size(), 1);
        QCOMPARE(r->view.selected, 10);
        QCOMPARE(r->view.panel(InfoPanel::Customer), QStringLiteral("Customer : ") + QString(30, ' '));
        QVERIFY(r->storedEntries().isEmpty());
    }

    // The module resets after the change: a port that does not open for a moment is tried again for the whole
    // time, and only the module the scan read counts as the one moved.
    void moveConfirmationTriesOnAndWantsTheSameModule()
    {
        r->view.selected = 6;
        QCOMPARE(r->changeBaudRate().outcome, ChangeOutcome::Accepted);
        int refusals = 2;
        r->module.refuseOpen = [&](int) { return refusals-- > 0; };
        MoveTarget target;
        target.portNumber = 7;
        target.lineSettingsIndex = 6;
        target.serialNumber = r->module.serial;
        QVERIFY(r->session.confirmMove(target).confirmed);
        r->module.refuseOpen = {};
        target.serialNumber = "KV000000";
        QVERIFY(!r->session.confirmMove(target).confirmed);
    }

    // Another module answers the confirmation: nothing is sent to change it, the window asks for a new scan,
    // and the module found is forgotten.
    void anotherModuleIsNeverChanged()
    {
        r->module.serial = "KV999999";
        const ClearResult cleared = r->clear();
        QCOMPARE(cleared.outcome, ChangeOutcome::ModuleChanged);
        QCOMPARE(cleared.answeredSerialNumber, QByteArray("KV999999"));
        QCOMPARE(r->view.panels[InfoPanel::Msg], QStringLiteral("Start Scan Module!"));
        QCOMPARE(r->module.requests, QList<QByteArray>({"S01"}));
        QCOMPARE(r->changeBaudRate().outcome, ChangeOutcome::NoScan);
        QCOMPARE(r->module.requests, QList<QByteArray>({"S01"}));
    }

private:
    Change run(Operation operation)
    {
        return operation == Operation::BaudRate ? changeOf(r->changeBaudRate()) : changeOf(r->clear());
    }

    std::unique_ptr<OperationRig> r;
};

QTEST_GUILESS_MAIN(TestModifyOperations)
#include "tst_modify_operations.moc"
