#include "frame_layer.h"
#include "scripted_port.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestFrameLayer : public QObject {
    Q_OBJECT

private slots:
    void checkDigits_data();
    void checkDigits();
    void requestGoesOutAsFiveWritesWithPauses();
    void replies_data();
    void replies();
    void badCheckReturnsAtOnceAndReplacesReplyText();
    void timeoutKeepsReplyTextAndCallsIdleOnEveryEmptyRead();
    void timeoutAcrossClockWrapAround_data();
    void timeoutAcrossClockWrapAround();
    void frameThatReachesBufferEndWrapsAndCannotComplete();
    void frameEndingExactlyAtLastPositionFails();
    void zeroByteInsideTextEndsReplyTextOnly();
    void replyWaitingBeforeRequestIsNotTakenAsReply();
    void streamingDeviceCannotHoldTheTool_data();
    void streamingDeviceCannotHoldTheTool();
    void steadyGoodReplyIsReadWithoutWaiting();
    void overlongCommandIsRefusedUnsent();
};

void TestFrameLayer::checkDigits_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("S01") << QByteArray("S01") << hex("0F53303135440D");
    QTest::newRow("V01") << QByteArray("V01") << hex("0F56303135380D");
    QTest::newRow("G06") << QByteArray("G06") << hex("0F47303634450D");
    QTest::newRow("E015") << QByteArray("E015") << hex("0F4530313537450D");
    QTest::newRow("empty") << QByteArray() << hex("0F30460D");
    QTest::newRow("check 00 keeps both digits") << QByteArray("\x0F", 1) << hex("0F0F30300D");
}

void TestFrameLayer::checkDigits()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, frame);
    QCOMPARE(FrameLayer::buildFrame(text), frame);
}

void TestFrameLayer::requestGoesOutAsFiveWritesWithPauses()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(replyFrame("S01ABCDEFGH"));
    QVERIFY(frames.sendCommand("S01"));

    QList<ScriptedPort::Kind> kinds;
    QByteArrayList writes;
    for (const ScriptedPort::Event &event : port.events()) {
        if (event.kind != ScriptedPort::Kind::Discard) {
            kinds.append(event.kind);
            writes.append(event.bytes);
        }
    }
    using K = ScriptedPort::Kind;
    QCOMPARE(kinds, (QList<K>{K::Byte, K::Block, K::Byte, K::Byte, K::Byte}));
    QCOMPARE(writes, (QByteArrayList{hex("0F"), "S01", "5", "D", hex("0D")}));
    QCOMPARE(port.written(), hex("0F53303135440D"));
    QCOMPARE(clock.sleeps(), (QList<int>{1, 5, 1, 1, 1}));
    QCOMPARE(port.events().first().kind, K::Discard);
}

void TestFrameLayer::replies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("empty text") << hex("0F30460D") << true << hex("0F30460D");
    QTest::newRow("lower-case check") << hex("0F30660D") << false << hex("0F30660D");
    const QByteArray frame = replyFrame("S01ABCDEFGH");
    QTest::newRow("stray bytes before") << (QByteArray("xy\r\x30", 4) + frame) << true << frame;
    QTest::newRow("end byte without start is nothing") << (QByteArray("\r\r") + frame) << true << frame;
    QTest::newRow("second start byte restarts") << (QByteArray("\x0F") + frame) << true << frame;
    QTest::newRow("start byte mid-frame restarts") << (hex("0F4142") + frame) << true << frame;
    QTest::newRow("wrong check") << hex("0F41424344300D") << false << hex("0F41424344300D");
    QTest::newRow("end byte inside text") << (hex("0F4142") + "\r" + "CD12\r") << false << hex("0F41420D");
    QTest::newRow("too short to hold a check") << hex("0F460D") << false << hex("0F460D");
}

void TestFrameLayer::replies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, good);
    QFETCH(QByteArray, text);
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(bytes);
    QCOMPARE(frames.sendCommand("S01"), good);
    QCOMPARE(frames.replyText(), text);
    QCOMPARE(frames.replyLength(), int(text.size()));
}

void TestFrameLayer::badCheckReturnsAtOnceAndReplacesReplyText()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(replyFrame("G06first"));
    QVERIFY(frames.sendCommand("G06"));

    QByteArray bad = replyFrame("G06second");
    bad[bad.size() - 2] = bad[bad.size() - 2] == 'A' ? 'B' : 'A';
    const QByteArray good = replyFrame("G06third");
    port.reply(bad + good);
    QVERIFY(!frames.sendCommand("G06"));
    QCOMPARE(frames.replyText(), bad);
    QCOMPARE(port.emptyReads(), 0);
    QCOMPARE(port.unreadBytes(), int(good.size()));
}

void TestFrameLayer::timeoutKeepsReplyTextAndCallsIdleOnEveryEmptyRead()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    int idleCalls = 0;
    frames.setIdleCallback([&] { ++idleCalls; });
    const QByteArray first = replyFrame("V0112.34-56");
    port.reply(first);
    QVERIFY(frames.sendCommand("V01"));
    QCOMPARE(idleCalls, port.emptyReads());

    port.clearRecord();
    idleCalls = 0;
    port.reply(hex("0F414243")); // a frame that never ends
    const std::uint32_t before = clock.milliseconds();
    QVERIFY(!frames.sendCommand("V01"));
    const std::uint32_t waited = clock.milliseconds() - before - 9; // less the request's pauses
    QVERIFY2(waited >= 251 && waited <= 252, QByteArray::number(waited).constData());
    QCOMPARE(frames.replyText(), first);
    QCOMPARE(frames.replyLength(), 4);
    QCOMPARE(idleCalls, port.emptyReads());
    QVERIFY(idleCalls > 200);
}

void TestFrameLayer::timeoutAcrossClockWrapAround_data()
{
    QTest::addColumn<quint32>("start");
    QTest::newRow("far from the wrap") << quint32(5000);
    QTest::newRow("wrap during the request") << quint32(0xFFFFFFFBu);
    QTest::newRow("wrap during the wait") << quint32(0xFFFFFFFFu - 100);
    QTest::newRow("counter at its last value") << quint32(0xFFFFFFFFu - 9);
}

void TestFrameLayer::timeoutAcrossClockWrapAround()
{
    QFETCH(quint32, start);
    FakeClock clock(start);
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    QVERIFY(!frames.sendCommand("S01"));
    const std::uint32_t waited = clock.milliseconds() - start - 9;
    QVERIFY2(waited >= 251 && waited <= 252, QByteArray::number(waited).constData());
}

void TestFrameLayer::frameThatReachesBufferEndWrapsAndCannotComplete()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    // 1024 bytes without an end byte: the next byte lands on position 0, over the start byte.
    QByteArray run = hex("0F") + QByteArray(1023, 'A');
    port.reply(run + "12\r");
    QVERIFY(!frames.sendCommand("S01"));
    QVERIFY(frames.replyText().isEmpty());
    QCOMPARE(frames.replyLength(), 3);
    QVERIFY(port.emptyReads() > 200);

    // After the wrap a fresh start byte still gives a good frame.
    const QByteArray frame = replyFrame("S01ABCDEFGH");
    port.reply(run + "12\r" + frame);
    QVERIFY(frames.sendCommand("S01"));
    QCOMPARE(frames.replyText(), frame);
}

void TestFrameLayer::frameEndingExactlyAtLastPositionFails()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray frame = replyFrame(QByteArray(1020, 'B'));
    QCOMPARE(frame.size(), 1024);
    port.reply(frame);
    QVERIFY(!frames.sendCommand("S01"));
    QCOMPARE(frames.replyLength(), 0);
    QVERIFY(frames.replyText().isEmpty());
    QCOMPARE(port.emptyReads(), 0);

    // One byte shorter still fits and is good.
    const QByteArray fits = replyFrame(QByteArray(1019, 'B'));
    port.reply(fits);
    QVERIFY(frames.sendCommand("S01"));
    QCOMPARE(frames.replyLength(), 1023);
    QCOMPARE(frames.replyText(), fits);
}

void TestFrameLayer::zeroByteInsideTextEndsReplyTextOnly()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray text("G06AB\0CD", 8);
    port.reply(replyFrame(text));
    QVERIFY(frames.sendCommand("G06"));
    QCOMPARE(frames.replyLength(), 12);
    QCOMPARE(frames.replyText(), QByteArray("\x0FG06AB"));

    // The check covers the zero byte: the same frame with it changed fails.
    QByteArray changed = replyFrame(text);
    changed[6] = 'X';
    port.reply(changed);
    QVERIFY(!frames.sendCommand("G06"));
}

void TestFrameLayer::replyWaitingBeforeRequestIsNotTakenAsReply()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray late = replyFrame("S01LATE0000");
    port.arriveAfterWrite(0, late);
    QVERIFY(!frames.sendCommand("S01"));
    QVERIFY(frames.replyText().isEmpty());

    // Late bytes that come in while the request goes out are dropped too.
    port.clearRecord();
    port.arriveAfterWrite(7, late);
    QVERIFY(!frames.sendCommand("S01"));
    QVERIFY(frames.replyText().isEmpty());

    // With a late reply waiting and the real one following, the real one is taken.
    const QByteArray real = replyFrame("S01REAL1234");
    port.arriveAfterWrite(10, late);
    port.arriveAfterWrite(10 + ScriptedPort::kAfterRequest, real);
    QVERIFY(frames.sendCommand("S01"));
    QCOMPARE(frames.replyText(), real);
}

void TestFrameLayer::streamingDeviceCannotHoldTheTool_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("byteTime");
    QTest::newRow("text without end, 4800 baud") << QByteArray("A") << 2;
    QTest::newRow("start bytes that keep restarting") << hex("0F414243") << 1;
    QTest::newRow("end bytes without start") << QByteArray("AB\r") << 1;
}

void TestFrameLayer::streamingDeviceCannotHoldTheTool()
{
    QFETCH(QByteArray, pattern);
    QFETCH(int, byteTime);
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.setByteTime(byteTime);
    port.streamForever(pattern);
    const std::uint32_t before = clock.milliseconds();
    QVERIFY(!frames.sendCommand("S01"));
    const std::uint32_t waited = clock.milliseconds() - before - 9;
    QVERIFY2(waited <= 251u + byteTime, QByteArray::number(waited).constData());
    QCOMPARE(port.emptyReads(), 0);
}

void TestFrameLayer::steadyGoodReplyIsReadWithoutWaiting()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    int idleCalls = 0;
    frames.setIdleCallback([&] { ++idleCalls; });
    // Noise of 100 ms at 4800 baud, then the reply, with no gap anywhere.
    port.setByteTime(2);
    const QByteArray frame = replyFrame("S01ABCDEFGH");
    port.reply(QByteArray(50, 'n') + frame);
    QVERIFY(frames.sendCommand("S01"));
    QCOMPARE(frames.replyText(), frame);
    QCOMPARE(idleCalls, 0);
    QCOMPARE(port.reads(), 50 + int(frame.size()));
}

void TestFrameLayer::overlongCommandIsRefusedUnsent()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(replyFrame("ok"));
    QVERIFY(!frames.sendCommand(QByteArray(256, 'L')));
    QVERIFY(port.events().isEmpty());
    QVERIFY(clock.sleeps().isEmpty());

    // 255 characters are a command like any other; 256 would have gone out as an empty text.
    QVERIFY(frames.sendCommand(QByteArray(255, 'L')));
    QCOMPARE(port.written(), FrameLayer::buildFrame(QByteArray(255, 'L')));
    QCOMPARE(port.written().size(), 259);
}

QTEST_GUILESS_MAIN(TestFrameLayer)
#include "tst_frame_layer.moc"
