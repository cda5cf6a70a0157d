// The five commands and the module's faults, over a real pseudo-terminal against modulebench-sim.
#include "line_settings.h"
#include "sim_rig.h"

#include <QtTest>

namespace {

const QByteArray kSerial = "SN-40817";
const QByteArray kVersion = "04.11-27";
const QByteArray kCustomer = "ACME LOGISTICS HALL 7 GATE 012";
const QByteArray kDefaultSettings = kLineSettingsTable[kDefaultLineSettingsIndex]; // "19200,e,8,1"
// A hang would last for ever; anything under this bound ended by itself.
constexpr qint64 kNoHangMs = 5000;

QStringList identityArgs()
{
    return {"--serial", kSerial, "--firmware", kVersion, "--customer", kCustomer};
}

QByteArray frameOf(const QByteArray &text)
{
    return FrameLayer::buildFrame(text);
}

} // namespace

class TestSimCommands : public QObject {
    Q_OBJECT

private slots:
    void readsSerialVersionAndRegister();
    void baudRateChangeMovesTheModule();
    void baudCodesReachEveryLineSetting();
    void clearingEmptiesTheRegister();
    void baudMismatchTimesOut();
    void parityIsNotCarried();
    void unknownCommandGetsNoAnswer();
    void requestWithBadCheckGetsNoAnswer();

    void silentModuleTimesOut();
    void badReplyCheckFailsOnTheCompletedFrame();
    void lowercaseCheckDigitsFail();
    void serialReplyOfWrongLengthFails_data();
    void serialReplyOfWrongLengthFails();
    void noiseBeforeTheReplyIsDropped();
    void ignoredCommandTimesOutOthersAnswer();
    void ignoredBaudChangeLeavesTheModule();
    void answerFromTheThirdRequest();
    void streamWithoutFramesEndsInTheTimeout_data();
    void streamWithoutFramesEndsInTheTimeout();
    void lateReplyIsNotTakenByTheNextCommand();

private:
    FrameReply reply; // the last request's

};

void TestSimCommands::readsSerialVersionAndRegister()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs()));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));

    reply = rig.frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.length, 15);
    QCOMPARE(reply.text, frameOf("S01" + kSerial));
    const CommandResult serial = rig.commands.readSerialNumber();
    QVERIFY(serial.ok);
    QCOMPARE(serial.value, kSerial);

    reply = rig.frames.request("V01");
    QCOMPARE(reply.text, frameOf("V01" + kVersion));
    const CommandResult version = rig.commands.readFirmwareVersion();
    QVERIFY(version.ok);
    QCOMPARE(version.value, kVersion);

    reply = rig.frames.request("G06");
    QCOMPARE(reply.length, 37);
    const CommandResult customer = rig.commands.readCustomerRegister();
    QVERIFY(customer.ok);
    QCOMPARE(customer.value, kCustomer);

    // The requests went out byte for byte as the module expects them.
    QByteArray heard;
    for (const TrafficEvent &event : rig.log()) {
        if (event.kind == TrafficEvent::Kind::Received)
            heard += event.bytes;
    }
    QCOMPARE(heard, QByteArray::fromHex("0F5330313544 0D 0F5330313544 0D 0F5630313538 0D 0F5630313538 0D "
                                        "0F4730363445 0D 0F4730363445 0D"));
}

void TestSimCommands::baudRateChangeMovesTheModule()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs()));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));

    // The reply comes at the old rate; afterwards the module listens only at the new one.
    reply = rig.frames.request(ModuleCommands::baudRateCommand(8));
    QVERIFY(reply.good());
    QCOMPARE(reply.text, frameOf("E018"));
    QVERIFY(!rig.commands.readSerialNumber().ok);
    rig.port.close();

    QVERIFY(rig.port.open(SimRig::kPort, kLineSettingsTable[8]));
    const CommandResult serial = rig.commands.readSerialNumber();
    QVERIFY(serial.ok);
    QCOMPARE(serial.value, kSerial);
    QVERIFY(rig.waitForNote("line settings 8 \"57600,n,8,1\" after this reply"));
}

void TestSimCommands::baudCodesReachEveryLineSetting()
{
    SimRig rig;
    QVERIFY(rig.start({}));
    int current = kDefaultLineSettingsIndex;
    // Every code once, E010 to E01B; the letters A and B lead to 115200.
    for (int next = 0; next < kLineSettingsCount; ++next) {
        QVERIFY(rig.port.open(SimRig::kPort, kLineSettingsTable[current]));
        QVERIFY2(rig.commands.setModuleBaudRate(next).ok, kLineSettingsTable[next]);
        rig.port.close();
        current = next;
        QVERIFY(rig.port.open(SimRig::kPort, kLineSettingsTable[current]));
        QVERIFY2(rig.commands.readSerialNumber().ok, kLineSettingsTable[current]);
        rig.port.close();
    }
    QVERIFY(rig.waitForNote("line settings 11 \"115200,e,8,1\" after this reply"));
}

void TestSimCommands::clearingEmptiesTheRegister()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs()));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));

    QCOMPARE(rig.commands.readCustomerRegister().value, kCustomer);
    QVERIFY(rig.commands.clearCustomerRegister().ok);
    const CommandResult cleared = rig.commands.readCustomerRegister();
    QVERIFY(cleared.ok);
    QCOMPARE(cleared.value, QByteArray(30, '*'));
    QVERIFY(rig.waitForNote("customer register cleared"));

    // The clearing request carried 32 asterisks, 39 bytes on the line.
    QByteArray heard;
    for (const TrafficEvent &event : rig.log()) {
        if (event.kind == TrafficEvent::Kind::Received)
            heard += event.bytes;
    }
    QVERIFY(heard.contains(QByteArray("\x0F" "F06") + QByteArray(32, '*') + "4F\r"));
}

void TestSimCommands::baudMismatchTimesOut()
{
    SimRig rig;
    QVERIFY(rig.start({}));
    QVERIFY(rig.port.open(SimRig::kPort, "9600,e,8,1"));
    reply = rig.frames.request("S01");
    QVERIFY(!reply.good());
    QVERIFY(reply.text.isEmpty());
    QVERIFY(rig.waitForNote("no answer: line at 9600 baud, module at 19200"));
    rig.port.close();

    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(rig.commands.readSerialNumber().ok);
}

void TestSimCommands::parityIsNotCarried()
{
    // A pseudo-terminal has no parity bit, so the module meets the tool at the baud rate alone.
    SimRig rig;
    QVERIFY(rig.start({}));
    QVERIFY(rig.port.open(SimRig::kPort, "19200,n,8,1"));
    QVERIFY(rig.commands.readSerialNumber().ok);
}

void TestSimCommands::unknownCommandGetsNoAnswer()
{
    SimRig rig;
    QVERIFY(rig.start({}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    reply = rig.frames.request("X99");
    QVERIFY(!reply.good());
    QVERIFY(rig.waitForNote("no answer: unknown command"));
    // A baud code beyond B is no command either, and moves nothing.
    reply = rig.frames.request("E01C");
    QVERIFY(!reply.good());
    QVERIFY(rig.commands.readSerialNumber().ok);
}

void TestSimCommands::requestWithBadCheckGetsNoAnswer()
{
    SimRig rig;
    QVERIFY(rig.start({}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    rig.port.writeBlock("\x0F" "S015E\r", 7);
    QVERIFY(rig.waitForNote("no answer: bad check"));
    char byte = 0;
    for (int i = 0; i < 50; ++i)
        QVERIFY(!rig.port.readByte(byte));
    QVERIFY(rig.commands.readSerialNumber().ok);
}

void TestSimCommands::silentModuleTimesOut()
{
    SimRig rig;
    QVERIFY(rig.start({"--silent"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QElapsedTimer timer;
    timer.start();
    reply = rig.frames.request("S01");
    QCOMPARE(reply.kind, FrameReply::Kind::TimedOut);
    QVERIFY(timer.elapsed() >= 250);
    QVERIFY(reply.text.isEmpty());
    QCOMPARE(reply.length, 0);
    QVERIFY(rig.waitForNote("no answer: silent"));
}

void TestSimCommands::badReplyCheckFailsOnTheCompletedFrame()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs() + QStringList{"--bad-check"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QCOMPARE(rig.commands.readSerialNumber().reply, FrameReply::Kind::BadCheck);
    reply = rig.frames.request("S01");
    // The frame was completed (it became the reply text) and failed on its check, not on the time-out.
    QCOMPARE(reply.kind, FrameReply::Kind::BadCheck);
    const QByteArray text = reply.text;
    QCOMPARE(text.size(), 15);
    QVERIFY(text.startsWith("\x0F" "S01" + kSerial));
    QVERIFY(text != frameOf("S01" + kSerial));
    QVERIFY(!rig.commands.readFirmwareVersion().ok);
    QVERIFY(!rig.commands.clearCustomerRegister().ok);
}

void TestSimCommands::lowercaseCheckDigitsFail()
{
    // "S01" with this serial has the check 0x2F, whose letter shows the case.
    const QByteArray serial = "LOWCASE2";
    const QByteArray digits = FrameLayer::checkDigits(FrameLayer::frameCheck("S01" + serial));
    QVERIFY(digits != digits.toLower());

    SimRig rig;
    QVERIFY(rig.start({"--serial", serial, "--lowercase-check"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(!rig.commands.readSerialNumber().ok);
    reply = rig.frames.request("S01");
    QCOMPARE(reply.kind, FrameReply::Kind::BadCheck);
    QCOMPARE(reply.text, "\x0F" "S01" + serial + digits.toLower() + "\r");
}

void TestSimCommands::serialReplyOfWrongLengthFails_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("14 bytes") << 14;
    QTest::newRow("16 bytes") << 16;
}

void TestSimCommands::serialReplyOfWrongLengthFails()
{
    QFETCH(int, length);
    SimRig rig;
    QVERIFY(rig.start({"--serial-length", QString::number(length)}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(!rig.commands.readSerialNumber().ok);
    // A good frame, only of the wrong length.
    reply = rig.frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.length, length);
    // The other commands are unaffected.
    QVERIFY(rig.commands.readFirmwareVersion().ok);
}

void TestSimCommands::noiseBeforeTheReplyIsDropped()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs() + QStringList{"--noise"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    // The stray bytes hold a 0x0D and a zero byte, but no 0x0F.
    const CommandResult serial = rig.commands.readSerialNumber();
    QVERIFY(serial.ok);
    QCOMPARE(serial.value, kSerial);
    reply = rig.frames.request("S01");
    QCOMPARE(reply.text, frameOf("S01" + kSerial));
    QCOMPARE(rig.commands.readCustomerRegister().value, kCustomer);

    bool noiseSent = false;
    for (const TrafficEvent &event : rig.log())
        noiseSent |= event.kind == TrafficEvent::Kind::Sent && event.bytes.startsWith(QByteArray("\x55\x00", 2));
    QVERIFY(noiseSent);
}

void TestSimCommands::ignoredCommandTimesOutOthersAnswer()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs() + QStringList{"--ignore", "V01"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(rig.commands.readSerialNumber().ok);
    reply = rig.frames.request("V01");
    // A time-out, with no text of its own.
    QCOMPARE(reply.kind, FrameReply::Kind::TimedOut);
    QVERIFY(reply.text.isEmpty());
    QVERIFY(rig.waitForNote("ignoring V01"));
    QCOMPARE(rig.commands.readCustomerRegister().value, kCustomer);
}

void TestSimCommands::ignoredBaudChangeLeavesTheModule()
{
    SimRig rig;
    QVERIFY(rig.start({"--ignore", "E01"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(!rig.commands.setModuleBaudRate(10).ok);
    QVERIFY(rig.commands.readSerialNumber().ok);
}

void TestSimCommands::answerFromTheThirdRequest()
{
    SimRig rig;
    QVERIFY(rig.start({"--answer-from", "3"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(!rig.commands.readSerialNumber().ok);
    QVERIFY(!rig.commands.readSerialNumber().ok);
    QVERIFY(rig.commands.readSerialNumber().ok);
    QVERIFY(rig.commands.readFirmwareVersion().ok);
}

void TestSimCommands::streamWithoutFramesEndsInTheTimeout_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("19200,e,8,1") << 5;
    QTest::newRow("115200,n,8,1") << 10;
}

void TestSimCommands::streamWithoutFramesEndsInTheTimeout()
{
    QFETCH(int, index);
    SimRig rig;
    QVERIFY(rig.start({"--stream", "--line-settings-index", QString::number(index)}));
    QVERIFY(rig.port.open(SimRig::kPort, kLineSettingsTable[index]));
    QElapsedTimer timer;
    timer.start();
    reply = rig.frames.request("S01");
    QVERIFY(!reply.good());
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 250 && elapsed < kNoHangMs, qPrintable(QString::number(elapsed)));
    // Bytes kept coming all the while, and none of them completed a frame.
    QVERIFY(reply.text.isEmpty());
    int streamed = 0;
    for (const TrafficEvent &event : rig.log()) {
        if (event.kind == TrafficEvent::Kind::Sent)
            streamed += int(event.bytes.size());
    }
    QVERIFY2(streamed > 100, qPrintable(QString::number(streamed)));
    QVERIFY(rig.waitForNote("no answer: streaming"));
}

void TestSimCommands::lateReplyIsNotTakenByTheNextCommand()
{
    SimRig rig;
    QVERIFY(rig.start(identityArgs() + QStringList{"--delay", "350"}));
    QVERIFY(rig.port.open(SimRig::kPort, kDefaultSettings));
    QVERIFY(!rig.commands.readSerialNumber().ok);

    // Wait until the late reply to S01 has gone out, then ask for the version.
    QElapsedTimer timer;
    timer.start();
    bool replied = false;
    while (!replied && timer.elapsed() < kNoHangMs) {
        for (const TrafficEvent &event : rig.log())
            replied |= event.kind == TrafficEvent::Kind::Sent;
        QThread::msleep(5);
    }
    QVERIFY(replied);
    // The good S01 frame waiting on the line must not pass for the version's reply;
    // the version's own reply comes too late as well.
    reply = rig.frames.request("V01");
    QVERIFY(!reply.good());
    QVERIFY(reply.text.isEmpty());
}

QTEST_GUILESS_MAIN(TestSimCommands)
#include "tst_sim_commands.moc"
