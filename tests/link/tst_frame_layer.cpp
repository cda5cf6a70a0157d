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
    void timeoutHasNoTextAndCallsIdleOnEveryEmptyRead();
    void replyWaitingAfterAHeldUpWaitIsTaken();
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
    void replyToAnotherRequestIsPassedOver_data();
    void replyToAnotherRequestIsPassedOver();
    void aLookTakesItsOwnLateReplyAndNoOther();

private:
    FrameReply reply; // the last request's

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
    reply = frames.request("S01");
    QVERIFY(reply.good());

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
    reply = frames.request("S01");
    QCOMPARE(reply.good(), good);
    QCOMPARE(reply.text, text);
    QCOMPARE(reply.length, int(text.size()));
}

void TestFrameLayer::badCheckReturnsAtOnceAndReplacesReplyText()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(replyFrame("G06first"));
    reply = frames.request("G06");
    QVERIFY(reply.good());

    QByteArray bad = replyFrame("G06second");
    bad[bad.size() - 2] = bad[bad.size() - 2] == 'A' ? 'B' : 'A';
    const QByteArray good = replyFrame("G06third");
    port.reply(bad + good);
    reply = frames.request("G06");
    QVERIFY(!reply.good());
    QCOMPARE(reply.text, bad);
    QCOMPARE(port.emptyReads(), 0);
    QCOMPARE(port.unreadBytes(), int(good.size()));
}

void TestFrameLayer::timeoutHasNoTextAndCallsIdleOnEveryEmptyRead()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    int idleCalls = 0;
    frames.setIdleCallback([&] { ++idleCalls; });
    const QByteArray first = replyFrame("V0112.34-56");
    port.reply(first);
    reply = frames.request("V01");
    QVERIFY(reply.good());
    QCOMPARE(idleCalls, port.emptyReads());

    port.clearRecord();
    idleCalls = 0;
    port.reply(hex("0F414243")); // a frame that never ends
    const std::uint32_t before = clock.milliseconds();
    reply = frames.request("V01");
    QVERIFY(!reply.good());
    const std::uint32_t waited = clock.milliseconds() - before - 9; // less the request's pauses
    QVERIFY2(waited >= 251 && waited <= 252, QByteArray::number(waited).constData());
    QCOMPARE(reply.kind, FrameReply::Kind::TimedOut);
    QVERIFY(reply.text.isEmpty());
    QCOMPARE(reply.length, 4); // how far the unfinished frame came
    QCOMPARE(idleCalls, port.emptyReads());
    QVERIFY(idleCalls > 200);
}

void TestFrameLayer::replyWaitingAfterAHeldUpWaitIsTaken()
{
    // The thread is held up past the time-out at its first look (a loaded machine, a slow paint of the
    // window); the reply came meanwhile and is waiting when it looks again.
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray frame = replyFrame("S01ABCDEFGH");
    bool heldUp = false;
    frames.setIdleCallback([&] {
        if (heldUp)
            return;
        heldUp = true;
        clock.advance(400);
        port.arriveAfterWrite(0, frame);
    });
    reply = frames.request("S01");
    QCOMPARE(reply.kind, FrameReply::Kind::Good);
    QCOMPARE(reply.text, frame);

    // Nothing waiting then: the wait ends at that look, with no more waiting.
    heldUp = false;
    frames.setIdleCallback([&] {
        if (!heldUp)
            clock.advance(400);
        heldUp = true;
    });
    const std::uint32_t before = clock.milliseconds();
    reply = frames.request("S01");
    QCOMPARE(reply.kind, FrameReply::Kind::TimedOut);
    QCOMPARE(clock.milliseconds() - before - 9, 400u + 2);
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
    reply = frames.request("S01");
    QVERIFY(!reply.good());
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
    reply = frames.request("S01");
    QVERIFY(!reply.good());
    QVERIFY(reply.text.isEmpty());
    QCOMPARE(reply.length, 3);
    QVERIFY(port.emptyReads() > 200);

    // After the wrap a fresh start byte still gives a good frame.
    const QByteArray frame = replyFrame("S01ABCDEFGH");
    port.reply(run + "12\r" + frame);
    reply = frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.text, frame);
}

void TestFrameLayer::frameEndingExactlyAtLastPositionFails()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray frame = replyFrame(QByteArray(1020, 'B'));
    QCOMPARE(frame.size(), 1024);
    port.reply(frame);
    reply = frames.request("S01");
    QVERIFY(!reply.good());
    QCOMPARE(reply.length, 0);
    QVERIFY(reply.text.isEmpty());
    QCOMPARE(port.emptyReads(), 0);

    // One byte shorter still fits and is good.
    const QByteArray fits = replyFrame(QByteArray(1019, 'B'));
    port.reply(fits);
    reply = frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.length, 1023);
    QCOMPARE(reply.text, fits);
}

void TestFrameLayer::zeroByteInsideTextEndsReplyTextOnly()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray text("G06AB\0CD", 8);
    port.reply(replyFrame(text));
    reply = frames.request("G06");
    QVERIFY(reply.good());
    QCOMPARE(reply.length, 12);
    QCOMPARE(reply.text, QByteArray("\x0FG06AB"));

    // The check covers the zero byte: the same frame with it changed fails.
    QByteArray changed = replyFrame(text);
    changed[6] = 'X';
    port.reply(changed);
    reply = frames.request("G06");
    QVERIFY(!reply.good());
}

void TestFrameLayer::replyWaitingBeforeRequestIsNotTakenAsReply()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    const QByteArray late = replyFrame("S01LATE0000");
    port.arriveAfterWrite(0, late);
    reply = frames.request("S01");
    QVERIFY(!reply.good());
    QVERIFY(reply.text.isEmpty());

    // Late bytes that come in while the request goes out are dropped too.
    port.clearRecord();
    port.arriveAfterWrite(7, late);
    reply = frames.request("S01");
    QVERIFY(!reply.good());
    QVERIFY(reply.text.isEmpty());

    // With a late reply waiting and the real one following, the real one is taken.
    const QByteArray real = replyFrame("S01REAL1234");
    port.arriveAfterWrite(10, late);
    port.arriveAfterWrite(10 + ScriptedPort::kAfterRequest, real);
    reply = frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.text, real);
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
    reply = frames.request("S01");
    QVERIFY(!reply.good());
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
    reply = frames.request("S01");
    QVERIFY(reply.good());
    QCOMPARE(reply.text, frame);
    QCOMPARE(idleCalls, 0);
    QCOMPARE(port.reads(), 50 + int(frame.size()));
}

void TestFrameLayer::overlongCommandIsRefusedUnsent()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(replyFrame("ok"));
    reply = frames.request(QByteArray(256, 'L'));
    QVERIFY(!reply.good());
    QVERIFY(port.events().isEmpty());
    QVERIFY(clock.sleeps().isEmpty());

    // 255 characters are a command like any other; 256 would have gone out as an empty text.
    reply = frames.request(QByteArray(255, 'L'));
    QVERIFY(reply.good());
    QCOMPARE(port.written(), FrameLayer::buildFrame(QByteArray(255, 'L')));
    QCOMPARE(port.written().size(), 259);
}

void TestFrameLayer::replyToAnotherRequestIsPassedOver_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("late");      // arrives first, during this request's wait
    QTest::addColumn<QByteArray>("own");       // then this; empty: nothing more comes
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("text");
    const auto f = [](const char *text) { return replyFrame(text); };
    QTest::newRow("serial number's reply during the version's wait")
        << QByteArray("V01") << f("S0120240001") << f("V0103.20-01") << int(FrameReply::Kind::Good) << f("V0103.20-01");
    QTest::newRow("version's reply during the register's wait, nothing after")
        << QByteArray("G06") << f("V0103.20-01") << QByteArray() << int(FrameReply::Kind::OtherRequest) << QByteArray();
    QTest::newRow("baud-rate reply during a serial-number wait")
        << QByteArray("S01") << f("E015") << f("S0120240001") << int(FrameReply::Kind::Good) << f("S0120240001");
    QTest::newRow("clearing's reply during a serial-number wait")
        << QByteArray("S01") << f("F06") << QByteArray() << int(FrameReply::Kind::OtherRequest) << QByteArray();
    QTest::newRow("register's reply during the clearing's wait")
        << QByteArray("F06") + QByteArray(32, '*') << f("G06ACME") << f("F06") << int(FrameReply::Kind::Good) << f("F06");
    // Same code: the reply to an earlier request of the same kind answers this one as well.
    QTest::newRow("an earlier serial number's reply")
        << QByteArray("S01") << f("S0120240001") << QByteArray() << int(FrameReply::Kind::Good) << f("S0120240001");
    // Anything that is not a request code is judged as always.
    QTest::newRow("other text is this request's reply")
        << QByteArray("V01") << f("X0112345678") << QByteArray() << int(FrameReply::Kind::Good) << f("X0112345678");
}

void TestFrameLayer::replyToAnotherRequestIsPassedOver()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, late);
    QFETCH(QByteArray, own);
    QFETCH(int, kind);
    QFETCH(QByteArray, text);
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer frames(port, clock);
    port.reply(late + own);
    const std::uint32_t before = clock.milliseconds();
    reply = frames.request(command);
    QCOMPARE(int(reply.kind), kind);
    QCOMPARE(reply.text, text);
    // Passed over, the late frame does not end the wait: only this request's reply or the time-out does.
    if (reply.kind == FrameReply::Kind::OtherRequest)
        QVERIFY(clock.milliseconds() - before > FrameLayer::kReplyTimeoutMs);
}

// The console program's looks after a change: a reply later than 250 ms still answers its own request, within
// the look's deadline; one later than that answers no later request of its code.
void TestFrameLayer::aLookTakesItsOwnLateReplyAndNoOther()
{
    FakeClock clock;
    ScriptedPort port(clock);
    FrameLayer look(port, clock, FrameLayer::kLookReplyDeadlineMs, true);
    FrameLayer window(port, clock);
    port.arriveAt(clock.milliseconds() + 400, replyFrame("S01KV240117"));
    QCOMPARE(int(look.request("S01").kind), int(FrameReply::Kind::Good));
    port.arriveAt(clock.milliseconds() + 400, replyFrame("S01KV240117"));
    QCOMPARE(int(window.request("S01").kind), int(FrameReply::Kind::TimedOut));
    clock.advance(500);

    // Past the deadline, during the next request of its code: passed over, and the next one's own reply taken.
    std::uint32_t start = clock.milliseconds();
    port.arriveAt(start + 1200, replyFrame("S01EARLIER"));
    port.arriveAt(start + 1400, replyFrame("S01OWNREPLY"));
    QCOMPARE(int(look.request("S01").kind), int(FrameReply::Kind::TimedOut));
    reply = look.request("S01");
    QCOMPARE(int(reply.kind), int(FrameReply::Kind::Good));
    QCOMPARE(reply.text, replyFrame("S01OWNREPLY"));

    // Waiting when the next request goes out, or coming during another command's wait, it pays the same.
    for (const QByteArray &next : {QByteArray("S01"), QByteArray("G06")}) {
        QCOMPARE(int(look.request("S01").kind), int(FrameReply::Kind::TimedOut));
        start = clock.milliseconds();
        port.arriveAt(next == "S01" ? start : start + 50, replyFrame("S01EARLIER"));
        port.arriveAt(start + 300, replyFrame(next + "OWNREPLY"));
        reply = look.request(next);
        QCOMPARE(int(reply.kind), int(FrameReply::Kind::Good));
        QVERIFY2(reply.text.contains("OWNREPLY"), reply.text.constData());
    }

    // A reply that never comes is owed until the port is opened afresh.
    QCOMPARE(int(look.request("S01").kind), int(FrameReply::Kind::TimedOut));
    look.forgetOwedReplies();
    port.arriveAt(clock.milliseconds() + 100, replyFrame("S01KV240117"));
    QCOMPARE(int(look.request("S01").kind), int(FrameReply::Kind::Good));
}

QTEST_GUILESS_MAIN(TestFrameLayer)
#include "tst_frame_layer.moc"
