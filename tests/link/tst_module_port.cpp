#include "line_settings.h"
#include "module_port.h"
#include "port_names.h"
#include "port_problem.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        slavePath = QString::fromLocal8Bit(::ttyname(slave));
        // The processes a test starts hold neither side: only this process is the far end of the line.
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
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
    // Whether anything was written to the device and waits on the master side.
    bool bytesWaiting() const
    {
        pollfd p{master, POLLIN, 0};
        return ::poll(&p, 1, 50) > 0 && (p.revents & POLLIN);
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

// Opens of a node seen through inotify: an open the tool should never have made shows here.
struct OpenWatch {
    int fd = -1;
    explicit OpenWatch(const QString &path)
    {
        fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_OPEN);
    }
    ~OpenWatch() { ::close(fd); }
    bool opened() const
    {
        alignas(inotify_event) char buffer[4096];
        return ::read(fd, buffer, sizeof buffer) > 0;
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
    void nodeThatIsNotATerminalIsNeverOpened();
    void plainFlockOfAnotherProcessRefuses();
    void exclusiveFlagOfAnotherProgramRefusesRootToo();
    void deviceOpenInAnotherProgramIsBusy();
    void portsOpenedAtOnceEachFindTheirOwnHolder();
    void permissionDeniedForAnotherUser();
    void probeLeavesTheDeviceAsFound();
    void lineSettingsMapToThePort_data();
    void lineSettingsMapToThePort();

private:
    void linkPort(const QString &folder, int n, const QString &target);
    // --try-open N of this binary as the user nobody: its line of output and exit status.
    std::pair<QByteArray, int> tryOpenAsNobody(int portNumber);
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
    QCOMPARE(port.lastProblem(), PortProblem::NoSuchPort);
    QVERIFY(!port.isOpen());
    QVERIFY(!port.open(40, "19200,e,8,1"));
    QCOMPARE(port.lastProblem(), PortProblem::NoSuchPort);
    QCOMPARE(port.lastOpenStatus().portNumber, 40);
    QVERIFY(port.lastOpenStatus().devicePath.isEmpty());

    // A number in the table whose device is not there: the status names the device looked for.
    QFile::remove(home() + "/KAVOR/ports/COM9");
    const QString tableDevice = devicePathForPort(9);
    if (QFileInfo::exists(tableDevice))
        QSKIP("this machine has /dev/ttyUSB4; the test never opens a real serial device");
    QVERIFY(!port.open(9, "19200,e,8,1"));
    QCOMPARE(port.lastOpenStatus().problem, PortProblem::NoSuchPort);
    QCOMPARE(port.lastOpenStatus().devicePath, QStringLiteral("/dev/ttyUSB4"));
    QCOMPARE(port.lastOpenStatus().systemError, ENOENT);
    QCOMPARE(probePort(9).problem, PortProblem::NoSuchPort);
    QCOMPARE(probePort(2).problem, PortProblem::NoSuchPort);
}

void TestModulePort::portIsHeldExclusively()
{
    QVERIFY(QFile::link(m_pty->slavePath, m_dir->path() + "/alias"));
    linkPort(home(), 4, m_dir->path() + "/alias");

    ModulePort first(m_clock);
    QVERIFY(first.open(3, "19200,e,8,1"));
    QCOMPARE(first.lastProblem(), PortProblem::None);

    ModulePort second(m_clock);
    QVERIFY(!second.open(3, "19200,e,8,1"));
    QCOMPARE(second.lastProblem(), PortProblem::Busy);
    QVERIFY(!second.open(4, "9600,n,8,1"));
    QCOMPARE(second.lastProblem(), PortProblem::Busy);

    // Another process meets the same refusal, root or not.
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {"--try-open", "3"});
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 10 + int(PortProblem::Busy));

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

void TestModulePort::nodeThatIsNotATerminalIsNeverOpened()
{
    // A regular file, a FIFO and a character device that is no terminal: each refused from what the
    // node is, without an open (an open alone may have an effect: a FIFO's writer wakes, a watchdog arms).
    QFile file(m_dir->path() + "/plain");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString fifo = m_dir->path() + "/fifo";
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ModulePort port(m_clock);
    for (const QString &node : {file.fileName(), fifo, QStringLiteral("/dev/null")}) {
        linkPort(home(), 6, node);
        OpenWatch watch(node);
        QVERIFY2(!port.open(6, "19200,e,8,1"), qPrintable(node));
        QCOMPARE(port.lastProblem(), PortProblem::NotATerminal);
        QCOMPARE(port.lastOpenStatus().devicePath, node);
        QCOMPARE(probePort(6).problem, PortProblem::NotATerminal);
        QVERIFY2(!watch.opened(), qPrintable(node + " was opened"));
    }
}

void TestModulePort::plainFlockOfAnotherProcessRefuses()
{
    DeviceHolder holder(QStringLiteral("flock"), m_pty->slavePath);
    QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));

    ModulePort port(m_clock);
    QVERIFY(!port.open(3, "19200,e,8,1"));
    const PortStatus status = port.lastOpenStatus();
    QCOMPARE(status.problem, PortProblem::Busy);
    QCOMPARE(status.devicePath, m_pty->slavePath);
    QCOMPARE(status.holderPid, holder.pid());
    QCOMPARE(status.holderName, QStringLiteral("mb_port_holder"));
    QCOMPARE(probePort(3).problem, PortProblem::Busy);
    QCOMPARE(probePort(3).holderPid, holder.pid());
    // Nothing went out to the device the other program holds.
    QVERIFY(!m_pty->bytesWaiting());

    holder.stop();
    QVERIFY(port.open(3, "19200,n,8,1"));
    QCOMPARE(port.lastProblem(), PortProblem::None);
    port.close();
}

void TestModulePort::exclusiveFlagOfAnotherProgramRefusesRootToo()
{
    DeviceHolder holder(QStringLiteral("excl"), m_pty->slavePath);
    QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));
    QCOMPARE(m_pty->exclusiveFlag(), 1);
    m_pty->setSpeedAndCanonical(B4800, true);
    // Root gets past the flag in the kernel; the tool asks for it and stays off all the same.
    ModulePort port(m_clock);
    QVERIFY(!port.open(3, "19200,n,8,1"));
    QCOMPARE(port.lastProblem(), PortProblem::Busy);
    QCOMPARE(port.lastOpenStatus().holderPid, holder.pid());
    QCOMPARE(port.lastOpenStatus().holderName, QStringLiteral("mb_port_holder"));
    QCOMPARE(probePort(3).problem, PortProblem::Busy);
    QCOMPARE(m_pty->exclusiveFlag(), 1);
    QCOMPARE(::cfgetospeed(&static_cast<const termios &>(m_pty->attributes())), speed_t(B4800));
    QVERIFY(!m_pty->bytesWaiting());
}

void TestModulePort::deviceOpenInAnotherProgramIsBusy()
{
    // A terminal program that takes no lock and sets no flag, only has the device open; the same beside a
    // pseudo-terminal master of its own, which makes it the far end of another line, not of this one.
    m_pty->setSpeedAndCanonical(B4800, true);
    for (const char *mode : {"open", "open-pty"}) {
        DeviceHolder holder(QString::fromLatin1(mode), m_pty->slavePath);
        QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));
        ModulePort port(m_clock);
        QVERIFY2(!port.open(3, "19200,n,8,1"), mode);
        const PortStatus status = port.lastOpenStatus();
        QCOMPARE(status.problem, PortProblem::Busy);
        QCOMPARE(status.holderPid, holder.pid());
        QCOMPARE(status.holderName, QStringLiteral("mb_port_holder"));
        const PortStatus probed = probePort(3);
        QCOMPARE(probed.problem, PortProblem::Busy);
        QCOMPARE(probed.holderPid, holder.pid());
        // Its line is as it had it: no byte written, no setting changed.
        QVERIFY(!m_pty->bytesWaiting());
        const termios after = m_pty->attributes();
        QCOMPARE(::cfgetospeed(&after), speed_t(B4800));
        QVERIFY(after.c_lflag & ICANON);
        QCOMPARE(m_pty->exclusiveFlag(), 0);
    }
    // This test process holds the pty's master and slave: the far end of the line, which another
    // process of this user may open (as the tool opens a virtual module's port).
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {"--try-open", "3"});
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 0);

    QString reason;
    if (!canRunAsNobody(&reason))
        QSKIP(qPrintable(QStringLiteral("holders of other users not checked: ") + reason));
    // Another user's holder: root sees it; that user's own copy of the tool sees it too.
    QCOMPARE(::fchmod(m_pty->slave, 0666), 0);
    DeviceHolder holder(QStringLiteral("open"), m_pty->slavePath, true);
    QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));
    ModulePort port(m_clock);
    QVERIFY(!port.open(3, "19200,n,8,1"));
    QCOMPARE(port.lastOpenStatus().holderPid, holder.pid());
    const auto [output, exitCode] = tryOpenAsNobody(3);
    QCOMPARE(output, QByteArray("busy ") + QFile::encodeName(m_pty->slavePath) + " " + QByteArray::number(holder.pid()));
    QCOMPARE(exitCode, 10 + int(PortProblem::Busy));
    QVERIFY(!m_pty->bytesWaiting());
}

// A search over every port opens them all at the same moment, and their looks for other programs share
// passes over /proc: each port must still be refused for its own holder, and only for it.
void TestModulePort::portsOpenedAtOnceEachFindTheirOwnHolder()
{
    constexpr int kPorts = 8;
    constexpr int kRounds = 5;
    std::vector<std::unique_ptr<Pty>> ptys;
    std::vector<std::unique_ptr<DeviceHolder>> holders(kPorts);
    for (int i = 0; i < kPorts; ++i) {
        ptys.push_back(std::make_unique<Pty>());
        QVERIFY(!ptys.back()->slavePath.isEmpty());
        linkPort(home(), 4 + i, ptys.back()->slavePath);
        if (i % 2) {
            holders[size_t(i)] = std::make_unique<DeviceHolder>(QStringLiteral("open"), ptys.back()->slavePath);
            QVERIFY2(holders[size_t(i)]->start(), qPrintable(holders[size_t(i)]->errorOutput()));
        }
    }
    for (int round = 0; round < kRounds; ++round) {
        std::vector<PortStatus> statuses(kPorts);
        std::vector<char> opened(kPorts, 0);
        QSemaphore ready;
        QSemaphore go;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < kPorts; ++i) {
            threads.emplace_back(QThread::create([&, i] {
                SystemClock clock;
                ModulePort port(clock);
                ready.release();
                go.acquire();
                opened[size_t(i)] = port.open(4 + i, "19200,n,8,1");
                statuses[size_t(i)] = port.lastOpenStatus();
                port.close();
            }));
            threads.back()->start();
        }
        ready.acquire(kPorts);
        go.release(kPorts);
        for (auto &thread : threads)
            QVERIFY(thread->wait(30000));
        for (int i = 0; i < kPorts; ++i) {
            const DeviceHolder *holder = holders[size_t(i)].get();
            const QString where = QStringLiteral("round %1, COM%2").arg(round).arg(4 + i);
            QVERIFY2(bool(opened[size_t(i)]) == !holder, qPrintable(where));
            if (holder)
                QVERIFY2(statuses[size_t(i)].problem == PortProblem::Busy, qPrintable(where));
            QCOMPARE(statuses[size_t(i)].holderPid, holder ? holder->pid() : 0);
        }
    }
}

void TestModulePort::permissionDeniedForAnotherUser()
{
    QString reason;
    if (!canRunAsNobody(&reason))
        QSKIP(qPrintable(QStringLiteral("permission denied not checked: ") + reason));
    // A root-owned 0600 terminal, reached through a link another user can follow.
    QCOMPARE(::fchmod(m_pty->slave, 0600), 0);
    const auto [output, exitCode] = tryOpenAsNobody(3);
    QCOMPARE(output, QByteArray("permission-denied ") + QFile::encodeName(m_pty->slavePath));
    QCOMPARE(exitCode, 10 + int(PortProblem::PermissionDenied));
}

std::pair<QByteArray, int> TestModulePort::tryOpenAsNobody(int portNumber)
{
    // The links must be reachable for another user.
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                             | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    std::unique_ptr<QProcess> other(startAsNobody(QCoreApplication::applicationFilePath(),
                                                  {QStringLiteral("--try-open"), QString::number(portNumber)}));
    if (!other->waitForFinished(30000))
        return {QByteArray("did not finish"), -1};
    return {other->readAllStandardOutput().trimmed(), other->exitCode()};
}

void TestModulePort::probeLeavesTheDeviceAsFound()
{
    m_pty->setSpeedAndCanonical(B4800, true);
    const termios before = m_pty->attributes();
    QElapsedTimer timer;
    timer.start();
    const PortStatus status = probePort(3);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(status.problem, PortProblem::None);
    QCOMPARE(status.devicePath, m_pty->slavePath);
    QCOMPARE(status.portNumber, 3);
    const termios after = m_pty->attributes();
    QCOMPARE(::cfgetospeed(&after), ::cfgetospeed(&before));
    QCOMPARE(after.c_lflag, before.c_lflag);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
    QCOMPARE(m_pty->exclusiveFlag(), 0);
    QVERIFY(!m_pty->bytesWaiting());
    // Held by nobody afterwards: an open succeeds at once.
    ModulePort port(m_clock);
    QVERIFY(port.open(3, "19200,n,8,1"));
    QCOMPARE(probePort(3).problem, PortProblem::Busy);
    port.close();
    qInfo("probe of one pseudo-terminal: %lld ms", elapsed);
}

void TestModulePort::lineSettingsMapToThePort_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("baud");
    QTest::addColumn<char>("parity");
    QTest::addColumn<speed_t>("speed");
    const speed_t speeds[] = {B4800, B9600, B19200, B38400, B57600, B115200};
    for (int i = 0; i < kLineSettingsCount; ++i) {
        const QByteArray text = kLineSettingsTable[i];
        QTest::newRow(text.constData()) << text << text.split(',')[0].toInt() << (i % 2 ? 'e' : 'n') << speeds[i / 2];
    }
    // Upper-case letters are the same settings.
    QTest::newRow("upper-case E") << QByteArray("9600,E,8,1") << 9600 << 'e' << speed_t(B9600);
}

void TestModulePort::lineSettingsMapToThePort()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, baud);
    QFETCH(char, parity);
    QFETCH(speed_t, speed);
    ModulePort port(m_clock);
    QVERIFY(port.open(3, settings));
    const std::optional<LineSettings> asked = port.requestedLineSettings();
    QVERIFY(asked.has_value());
    QCOMPARE(asked->baudRate, baud);
    QCOMPARE(asked->parity, parity);
    QCOMPARE(asked->dataBits, 8);
    QCOMPARE(asked->stopBits, 1);
    // The baud rate reaches the line. A pseudo-terminal has no parity bit: that it refuses even parity
    // is no fault of the settings.
    QCOMPARE(::cfgetospeed(&static_cast<const termios &>(m_pty->attributes())), speed);
    QCOMPARE(port.lastProblem(), PortProblem::None);
    port.close();

    // A damaged string maps to nothing: the port opens, leaves the line as it was and says why.
    for (const QByteArray &damaged : {settings + ",1", settings.replace(',', ';'), QByteArray("19200,o,8,1"),
                                      QByteArray("19200,e,7,3"), QByteArray("0,n,8,1")}) {
        m_pty->setSpeedAndCanonical(B1200, false);
        QVERIFY(port.open(3, damaged));
        QVERIFY2(!port.requestedLineSettings().has_value(), damaged.constData());
        QCOMPARE(port.lastProblem(), PortProblem::LineSettingsRefused);
        QCOMPARE(::cfgetospeed(&static_cast<const termios &>(m_pty->attributes())), speed_t(B1200));
        port.close();
    }
}

// With --try-open N the test binary opens port N once and reports through its exit code.
int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--try-open") == 0) {
        SystemClock clock;
        ModulePort port(clock);
        const bool opened = port.open(QByteArray(argv[2]).toInt(), "9600,n,8,1");
        const PortStatus status = port.lastOpenStatus();
        std::printf("%s %s%s\n", portProblemKey(port.lastProblem()).data(), qPrintable(status.devicePath),
                    status.holderPid > 0 ? qPrintable(QStringLiteral(" %1").arg(status.holderPid)) : "");
        return opened ? 0 : 10 + int(port.lastProblem());
    }
    QCoreApplication app(argc, argv);
    TestModulePort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_module_port.moc"
