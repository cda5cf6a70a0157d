#include "module_commands.h"
#include "scripted_port.h"

#include <QtTest>

class TestModuleCommands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replyField_data();
    void replyField();
    void serialNumberNeedsFifteenByteReply_data();
    void serialNumberNeedsFifteenByteReply();
    void valuesComeFromReplyTextOnly_data();
    void valuesComeFromReplyTextOnly();
    void failedReplyGivesNoSuccess();
    void baudRateCommands_data();
    void baudRateCommands();
    void baudRateIndexOutsideTableSendsNothing_data();
    void baudRateIndexOutsideTableSendsNothing();
    void clearSendsThirtyTwoAsterisks();

private:
    FakeClock *m_clock = nullptr;
    ScriptedPort *m_port = nullptr;
    FrameLayer *m_frames = nullptr;
    ModuleCommands *m_commands = nullptr;
};

void TestModuleCommands::init()
{
    m_clock = new FakeClock;
    m_port = new ScriptedPort(*m_clock);
    m_frames = new FrameLayer(*m_port, *m_clock);
    m_commands = new ModuleCommands(*m_frames);
}

void TestModuleCommands::cleanup()
{
    delete m_commands;
    delete m_frames;
    delete m_port;
    delete m_clock;
}

void TestModuleCommands::replyField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("field");
    const QByteArray frame = replyFrame("S0112345678");
    QTest::newRow("serial number") << frame << 5 << 8 << QByteArray("12345678");
    QTest::newRow("position 1 is the start byte") << frame << 1 << 2 << QByteArray("\x0FS");
    QTest::newRow("runs past the end") << frame << 13 << 8 << frame.mid(12);
    QTest::newRow("start is the last character") << frame << 15 << 3 << QByteArray("\r");
    QTest::newRow("start beyond the end") << frame << 16 << 3 << QByteArray();
    QTest::newRow("empty text") << QByteArray() << 1 << 3 << QByteArray();
}

void TestModuleCommands::replyField()
{
    QFETCH(QByteArray, text);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QByteArray, field);
    QCOMPARE(::replyField(text, start, count), field);
}

void TestModuleCommands::serialNumberNeedsFifteenByteReply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("15 bytes") << QByteArray("S01K7Q2-901") << true;
    QTest::newRow("14 bytes") << QByteArray("S01K7Q2-90") << false;
    QTest::newRow("16 bytes") << QByteArray("S01K7Q2-9012") << false;
    QTest::newRow("any three leading characters") << QByteArray("xyzABCDEFGH") << true;
}

void TestModuleCommands::serialNumberNeedsFifteenByteReply()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    m_port->reply(replyFrame(text));
    const CommandResult result = m_commands->readSerialNumber();
    QCOMPARE(result.ok, ok);
    if (ok)
        QCOMPARE(result.value, text.mid(3));
    QCOMPARE(m_port->written(), QByteArray::fromHex("0F53303135440D"));
}

void TestModuleCommands::valuesComeFromReplyTextOnly_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("version") << QByteArray("V01") << QByteArray("V0101.20-07") << QByteArray("01.20-07");
    QTest::newRow("version longer than its field") << QByteArray("V01") << QByteArray("V0101.20-07xyz")
                                                   << QByteArray("01.20-07");
    QTest::newRow("short version") << QByteArray("V01") << QByteArray("V011.2") << QByteArray("1.2");
    QTest::newRow("version text of four") << QByteArray("V01") << QByteArray("V01") << QByteArray();
    QTest::newRow("empty version text") << QByteArray("V01") << QByteArray() << QByteArray();
    const QByteArray customer = "KAVOR-CUSTOMER-0001-ABCDEFGHIJ";
    QTest::newRow("customer") << QByteArray("G06") << ("G06" + customer) << customer;
    QTest::newRow("customer longer than its field") << QByteArray("G06") << ("G06" + customer + "++")
                                                    << customer;
    QTest::newRow("short customer") << QByteArray("G06") << QByteArray("G06***") << QByteArray("***");
    QTest::newRow("zero byte in customer") << QByteArray("G06") << QByteArray("G06AB\0CD", 8)
                                           << QByteArray("AB");
}

void TestModuleCommands::valuesComeFromReplyTextOnly()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, value);
    m_port->reply(replyFrame(text));
    const CommandResult result =
        command == "V01" ? m_commands->readFirmwareVersion() : m_commands->readCustomerRegister();
    QVERIFY(result.ok);
    QCOMPARE(result.value, value);
    QCOMPARE(m_port->written(), FrameLayer::buildFrame(command));
}

void TestModuleCommands::failedReplyGivesNoSuccess()
{
    QByteArray bad = replyFrame("S0112345678");
    bad[12] = 'x';
    m_port->reply(bad);
    QVERIFY(!m_commands->readSerialNumber().ok);
    m_port->reply(bad);
    QVERIFY(!m_commands->readFirmwareVersion().ok);
    QVERIFY(!m_commands->readCustomerRegister().ok); // no reply at all
    QVERIFY(!m_commands->setModuleBaudRate(5).ok);
    QVERIFY(!m_commands->clearCustomerRegister().ok);
}

void TestModuleCommands::baudRateCommands_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("0") << 0 << QByteArray::fromHex("0F4530313037420D");
    QTest::newRow("5") << 5 << QByteArray::fromHex("0F4530313537450D");
    QTest::newRow("9") << 9 << FrameLayer::buildFrame("E019");
    QTest::newRow("10") << 10 << FrameLayer::buildFrame("E01A");
    QTest::newRow("11") << 11 << FrameLayer::buildFrame("E01B");
}

void TestModuleCommands::baudRateCommands()
{
    QFETCH(int, index);
    QFETCH(QByteArray, request);
    m_port->reply(replyFrame("E01"));
    QVERIFY(m_commands->setModuleBaudRate(index).ok);
    QCOMPARE(m_port->written(), request);
}

void TestModuleCommands::baudRateIndexOutsideTableSendsNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("12") << 12;
    QTest::newRow("16") << 16;
}

void TestModuleCommands::baudRateIndexOutsideTableSendsNothing()
{
    QFETCH(int, index);
    m_port->arriveAfterWrite(0, replyFrame("E01"));
    QVERIFY(!m_commands->setModuleBaudRate(index).ok);
    QVERIFY(m_port->events().isEmpty());
    QVERIFY(ModuleCommands::baudRateCommand(index).isEmpty());
}

void TestModuleCommands::clearSendsThirtyTwoAsterisks()
{
    m_port->reply(replyFrame("F06"));
    QVERIFY(m_commands->clearCustomerRegister().ok);
    const QByteArray text = "F06" + QByteArray(32, '*');
    QCOMPARE(text.size(), 35);
    QCOMPARE(m_port->written().size(), 39);
    QCOMPARE(m_port->written().mid(1, 35), text);
    QCOMPARE(m_port->written(), FrameLayer::buildFrame(text));
}

QTEST_GUILESS_MAIN(TestModuleCommands)
#include "tst_module_commands.moc"
