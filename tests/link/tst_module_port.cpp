#include "module_port.h"
#include "port_names.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kAttempts = 3000; // reads of about 1 ms: a generous bound for a pty to pass bytes on

// A pseudo-terminal whose slave the tests reach through a COMn link.
struct Pty {
    int master = -1;
    int slave = -1;
    QString slavePath;

    Pty()
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0)
            slavePath = QString::fromLocal8Bit(::ttyname(slave));
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    termios attributes() const
    {
        termios t{};
        ::tcgetattr(master, &t);
        return t;
    }
    void setSpeedAndCanonical(speed_t speed, bool canonical)
    {
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        t.c_lflag = canonical ? (t.c_lflag | ICANON) : (t.c_lflag & ~ICANON);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    int exclusiveFlag() const
    {
        int on = -1;
        ::ioctl(slave, TIOCGEXCL, &on);
        return on;
    }
    QByteArray readMaster(int count) const
    {
        QByteArray got;
        for (int i = 0; i < kAttempts && got.size() < count; ++i) {
            char buffer[64];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, int(n));
            else
                QThread::msleep(1);
        }
        return got;
    }
};

bool readOne(ModulePort &port, char &value)
{
    for (int i = 0; i < kAttempts; ++i) {
        if (port.readByte(value))
            return true;
    }
    return false;
}

} // namespace

class TestModulePort : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void portNamesFollowLinksThenTable();
    void danglingLinkMeansNoDevice();
    void environmentIsReadAtEveryLookup();
    void missingDeviceFailsWithNotFound();
    void portIsHeldExclusively();
    void lineSettingsApplyAndCloseRestores();
    void unparsableLineSettingsLeaveTheLine_data();
    void unparsableLineSettingsLeaveTheLine();
    void bytesTravelBothWaysAndDiscardDropsWaitingInput();

private:
    void linkPort(const QString &folder, int n, const QString &target);
    QString home() const { return m_dir->path() + QStringLiteral("/home"); }
    QString system(int i) const { return m_dir->path() + QStringLiteral("/system%1").arg(i); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Pty> m_pty;
    SystemClock m_clock;
};

void TestModulePort::linkPort(const QString &folder, int n, const QString &target)
{
    const QString ports = folder + QStringLiteral("/KAVOR/ports");
    QDir().mkpath(ports);
    const QString link = ports + QStringLiteral("/COM%1").arg(n);
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
}

void TestModulePort::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_CONFIG_HOME", home().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", (system(1) + ":" + system(2)).toLocal8Bit());
    for (int n = 1; n <= 16; ++n)
        linkPort(home(), n, m_dir->path() + QStringLiteral("/nothing%1").arg(n));
    m_pty = std::make_unique<Pty>();
    QVERIFY(!m_pty->slavePath.isEmpty());
    linkPort(home(), 3, m_pty->slavePath);
}

void TestModulePort::cleanup()
{
    m_pty.reset();
    m_dir.reset();
}

void TestModulePort::portNamesFollowLinksThenTable()
{
    QCOMPARE(devicePathForPort(3), m_pty->slavePath);

    // A chain of links is resolved to the device itself, so every name of it meets the same lock.
    QVERIFY(QFile::link(m_pty->slavePath, m_dir->path() + "/alias"));
    linkPort(home(), 16, m_dir->path() + "/alias");
    QCOMPARE(devicePathForPort(16), m_pty->slavePath);

    // Without a link in the home folder the system folders are asked in their order.
    QFile::remove(home() + "/KAVOR/ports/COM5");
    QFile target(m_dir->path() + "/second");
    QVERIFY(target.open(QIODevice::WriteOnly));
    linkPort(system(2), 5, target.fileName());
    QCOMPARE(devicePathForPort(5), target.fileName());
    linkPort(system(1), 5, m_pty->slavePath);
    QCOMPARE(devicePathForPort(5), m_pty->slavePath);

    // Only numbers without any link reach the fixed table; nothing is opened here.
    for (int n : {1, 4, 6, 12, 13, 16})
        QFile::remove(home() + QStringLiteral("/KAVOR/ports/COM%1").arg(n));
    QCOMPARE(devicePathForPort(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(devicePathForPort(4), QStringLiteral("/dev/ttyS3"));
    QCOMPARE(devicePathForPort(6), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(devicePathForPort(12), QStringLiteral("/dev/ttyUSB7"));
    QCOMPARE(devicePathForPort(13), QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(devicePathForPort(16), QStringLiteral("/dev/ttyACM3"));
    QVERIFY(devicePathForPort(0).isEmpty());
    QVERIFY(devicePathForPort(17).isEmpty());
    linkPort(home(), 17, m_pty->slavePath);
    QCOMPARE(devicePathForPort(17), m_pty->slavePath);
}

void TestModulePort::danglingLinkMeansNoDevice()
{
    for (int n = 1; n <= 16; ++n) {
        if (n != 3)
            QVERIFY2(devicePathForPort(n).isEmpty(), qPrintable(QString::number(n)));
    }
    // A dangling link at home hides a good link in a system folder too.
    linkPort(system(1), 7, m_pty->slavePath);
    QVERIFY(devicePathForPort(7).isEmpty());
    QFile::remove(home() + "/KAVOR/ports/COM7");
    linkPort(system(1), 7, m_dir->path() + "/gone");
    linkPort(system(2), 7, m_pty->slavePath);
    QVERIFY(devicePathForPort(7).isEmpty());
}

void TestModulePort::environmentIsReadAtEveryLookup()
{
    QCOMPARE(devicePathForPort(3), m_pty->slavePath);
    const QString other = m_dir->path() + "/otherhome";
    linkPort(other, 3, m_dir->path() + "/gone");
    qputenv("XDG_CONFIG_HOME", other.toLocal8Bit());
    QVERIFY(devicePathForPort(3).isEmpty());
    qputenv("XDG_CONFIG_HOME", home().toLocal8Bit());
    QCOMPARE(devicePathForPort(3), m_pty->slavePath);
}

void TestModulePort::missingDeviceFailsWithNotFound()
{
    ModulePort port(m_clock);
    QVERIFY(!port.open(1, "19200,e,8,1"));
    QCOMPARE(port.lastError(), PortError::NotFound);
    QVERIFY(!port.isOpen());
    QVERIFY(!port.open(40, "19200,e,8,1"));
    QCOMPARE(port.lastError(), PortError::NotFound);
}

void TestModulePort::portIsHeldExclusively()
{
    QVERIFY(QFile::link(m_pty->slavePath, m_dir->path() + "/alias"));
    linkPort(home(), 4, m_dir->path() + "/alias");

    ModulePort first(m_clock);
    QVERIFY(first.open(3, "19200,e,8,1"));
    QCOMPARE(first.lastError(), PortError::None);

    ModulePort second(m_clock);
    QVERIFY(!second.open(3, "19200,e,8,1"));
    QCOMPARE(second.lastError(), PortError::Busy);
    QVERIFY(!second.open(4, "9600,n,8,1"));
    QCOMPARE(second.lastError(), PortError::Busy);

    // Another process meets the same refusal, root or not.
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {"--try-open", "3"});
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 10 + int(PortError::Busy));

    first.close();
    QCOMPARE(m_pty->exclusiveFlag(), 0);
    QVERIFY(second.open(4, "9600,n,8,1"));
    QCOMPARE(m_pty->exclusiveFlag(), 1);
    second.close();
    QCOMPARE(m_pty->exclusiveFlag(), 0);
    other.start(QCoreApplication::applicationFilePath(), {"--try-open", "3"});
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 0);
}

void TestModulePort::lineSettingsApplyAndCloseRestores()
{
    m_pty->setSpeedAndCanonical(B4800, true);
    ModulePort port(m_clock);
    for (int round = 0; round < 3; ++round) {
        QVERIFY(port.open(3, "115200,n,8,1"));
        const termios opened = m_pty->attributes();
        QCOMPARE(::cfgetospeed(&opened), speed_t(B115200));
        QVERIFY(!(opened.c_lflag & ICANON));
        QVERIFY(!(opened.c_cflag & CRTSCTS));
        port.close();
        const termios closed = m_pty->attributes();
        QCOMPARE(::cfgetospeed(&closed), speed_t(B4800));
        QVERIFY(closed.c_lflag & ICANON);
    }
}

void TestModulePort::unparsableLineSettingsLeaveTheLine_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("baud only") << QByteArray("19200");
    QTest::newRow("odd parity") << QByteArray("19200,o,8,1");
    QTest::newRow("word for baud") << QByteArray("fast,n,8,1");
    QTest::newRow("five fields") << QByteArray("19200,e,8,1,x");
    QTest::newRow("semicolons") << QByteArray("19200;e;8;1");
    QTest::newRow("nine data bits") << QByteArray("19200,e,9,1");
    QTest::newRow("damaged") << QByteArray("1\xff" "200,e,8,1");
}

void TestModulePort::unparsableLineSettingsLeaveTheLine()
{
    QFETCH(QByteArray, settings);
    ModulePort port(m_clock);
    // A good open first, so the port object itself remembers other settings.
    QVERIFY(port.open(3, "38400,e,8,1"));
    port.close();

    m_pty->setSpeedAndCanonical(B4800, false);
    QVERIFY(port.open(3, settings));
    QCOMPARE(::cfgetospeed(&static_cast<const termios &>(m_pty->attributes())), speed_t(B4800));
    port.writeBlock("ok", 2);
    QCOMPARE(m_pty->readMaster(2), QByteArray("ok"));
    port.close();
}

void TestModulePort::bytesTravelBothWaysAndDiscardDropsWaitingInput()
{
    ModulePort port(m_clock);
    QVERIFY(port.open(3, "19200,e,8,1"));
    char value = 0;
    QVERIFY(!port.readByte(value));

    port.writeByte(0x0F);
    port.writeBlock("S01", 3);
    port.writeByte('5');
    QCOMPARE(m_pty->readMaster(5), QByteArray("\x0FS015"));

    QCOMPARE(::write(m_pty->master, "xyz", 3), ssize_t(3));
    QByteArray got;
    for (int i = 0; i < 3 && readOne(port, value); ++i)
        got.append(value);
    QCOMPARE(got, QByteArray("xyz"));

    // The first read pulls all waiting bytes into QSerialPort's buffer; discarding must empty that too.
    QCOMPARE(::write(m_pty->master, "abcdef", 6), ssize_t(6));
    QVERIFY(readOne(port, value));
    QCOMPARE(value, 'a');
    port.discardInput();
    for (int i = 0; i < 20; ++i)
        QVERIFY(!port.readByte(value));
    port.close();
    QVERIFY(!port.readByte(value));
}

// With --try-open N the test binary opens port N once and reports through its exit code.
int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--try-open") == 0) {
        SystemClock clock;
        ModulePort port(clock);
        const bool opened = port.open(QByteArray(argv[2]).toInt(), "9600,n,8,1");
        return opened ? 0 : 10 + int(port.lastError());
    }
    QCoreApplication app(argc, argv);
    TestModulePort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_module_port.moc"
