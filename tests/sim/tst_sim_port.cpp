// ModulePort against modulebench-sim: a hold by another process, the terminal's settings after close,
// and the sim's own COMn link and traffic log.
#include "line_settings.h"
#include "sim_rig.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray kDefaultSettings = kLineSettingsTable[kDefaultLineSettingsIndex];
constexpr int kWaitMs = 10000;

// The differences between two terminal settings, by field; empty when they are the same.
QByteArray termiosDifferences(const termios &a, const termios &b)
{
    QByteArray out;
    auto field = [&out](const char *name, unsigned long x, unsigned long y) {
        if (x != y)
            out += QByteArray(name) + ' ' + QByteArray::number(qulonglong(x), 8) + " -> "
                + QByteArray::number(qulonglong(y), 8) + "; ";
    };
    field("c_iflag", a.c_iflag, b.c_iflag);
    field("c_oflag", a.c_oflag, b.c_oflag);
    field("c_cflag", a.c_cflag, b.c_cflag);
    field("c_lflag", a.c_lflag, b.c_lflag);
    field("c_line", a.c_line, b.c_line);
    field("ispeed", ::cfgetispeed(&a), ::cfgetispeed(&b));
    field("ospeed", ::cfgetospeed(&a), ::cfgetospeed(&b));
    for (int i = 0; i < NCCS; ++i) {
        const QByteArray name = "c_cc[" + QByteArray::number(i) + "]";
        field(name.constData(), a.c_cc[i], b.c_cc[i]);
    }
    return out;
}

// Reads one line from a process's standard output.
QByteArray readLineFrom(QProcess &process)
{
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine() && timer.elapsed() < kWaitMs) {
        if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
            break;
    }
    return process.readLine().trimmed();
}

QString linkTarget(const QString &path)
{
    return QFileInfo(path).symLinkTarget();
}

} // namespace

class TestSimPort : public QObject {
    Q_OBJECT

private slots:
    void holdOfAnotherProcessExcludes_data();
    void holdOfAnotherProcessExcludes();
    void terminalSettingsIdenticalAfterClose_data();
    void terminalSettingsIdenticalAfterClose();
    void opensOnALineLeftAsAnOpenPortLeavesIt_data();
    void opensOnALineLeftAsAnOpenPortLeavesIt();
    void com1AndCom16ReachTheLinkedDevice();
    void simLinksItsPortAndRemovesTheLinkAtTheEnd_data();
    void simLinksItsPortAndRemovesTheLinkAtTheEnd();
    void killedSimLeavesNoLinkThatIsUsed();
    void lineLostWhileOpenIsReported();
};

void TestSimPort::holdOfAnotherProcessExcludes_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("holder closes") << false;
    QTest::newRow("holder killed") << true;
}

void TestSimPort::holdOfAnotherProcessExcludes()
{
    QFETCH(bool, killed);
    SimRig rig;
    QVERIFY(rig.start({"--serial", "HELD0001"}));
    // A second name for the same device meets the same hold.
    const QString alias = rig.config().configHome() + QStringLiteral("/alias");
    QVERIFY(QFile::link(rig.sim().slavePath(), alias));
    rig.config().linkPort(4, alias);

    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {"--hold", QString::number(SimRig::kPort)});
    QVERIFY(holder.waitForStarted(kWaitMs));
    // The holder has the port and talks to the module through it.
    QCOMPARE(readLineFrom(holder), QByteArray("held HELD0001"));

    QVERIFY(!rig.port.open(SimRig::kPort, kDefaultSettings));
    QCOMPARE(rig.port.lastProblem(), PortProblem::Busy);
    QVERIFY(!rig.port.open(4, "9600,n,8,1"));
    QCOMPARE(rig.port.lastProblem(), PortProblem::Busy);
    QVERIFY(!rig.port.isOpen());

    if (killed) {
        // No close at all: the system drops the holder's lock with its process.
        holder.kill();
    } else {
        holder.closeWriteChannel();
    }
    QVERIFY(holder.waitForFinished(kWaitMs));
    if (!killed)
        QCOMPARE(holder.exitCode(), 0);
    if (killed) {
        // The exclusive flag stays on a pseudo-terminal whose other side is still up, and nothing tells
        // whose it is: the port counts as held, for root too, until the flag is cleared.
        QVERIFY(!rig.port.open(4, kDefaultSettings));
        QCOMPARE(rig.port.lastProblem(), PortProblem::Busy);
        if (::geteuid() != 0)
            return;
        const int fd = ::open(QFile::encodeName(rig.sim().slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QCOMPARE(::ioctl(fd, TIOCNXCL), 0);
        ::close(fd);
    }

    QVERIFY2(rig.port.open(4, kDefaultSettings), qPrintable(QString::number(int(rig.port.lastProblem()))));
    const CommandResult serial = rig.commands.readSerialNumber();
    QVERIFY(serial.ok);
    QCOMPARE(serial.value, QByteArray("HELD0001"));
}

void TestSimPort::terminalSettingsIdenticalAfterClose_data()
{
    QTest::addColumn<bool>("cooked");
    QTest::newRow("raw, as the sim leaves it") << false;
    QTest::newRow("cooked terminal at 4800") << true;
}

void TestSimPort::terminalSettingsIdenticalAfterClose()
{
    QFETCH(bool, cooked);
    SimRig rig;
    QVERIFY(rig.start({}));
    // A descriptor of our own on the line, to read and set its settings from outside the port.
    const int fd = ::open(QFile::encodeName(rig.sim().slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });

    termios before{};
    QCOMPARE(::tcgetattr(fd, &before), 0);
    if (cooked) {
        termios t = before;
        t.c_iflag = BRKINT | ICRNL | IXON | IXANY | IMAXBEL;
        t.c_oflag = OPOST | ONLCR;
        t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
        t.c_cflag = (t.c_cflag & ~CSIZE) | CS8 | CSTOPB | CRTSCTS | HUPCL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 3;
        ::cfsetispeed(&t, B4800);
        ::cfsetospeed(&t, B4800);
        QCOMPARE(::tcsetattr(fd, TCSANOW, &t), 0);
        QCOMPARE(::tcgetattr(fd, &before), 0);
        QVERIFY(before.c_lflag & ICANON);
        QCOMPARE(::cfgetospeed(&before), speed_t(B4800));
    }

    struct Use {
        QByteArray settings;
        bool talk;
    };
    const Use uses[] = {
        {kDefaultSettings, true},
        {"115200,n,8,1", false},
        {"fast,n,8,1", false}, // does not parse: the line stays as it was while open
        {"4800,e,8,1", false},
        {kDefaultSettings, true},
    };
    for (const Use &use : uses) {
        QVERIFY(rig.port.open(SimRig::kPort, use.settings));
        termios during{};
        QCOMPARE(::tcgetattr(fd, &during), 0);
        QVERIFY2(!(during.c_lflag & ICANON), use.settings.constData());
        if (use.talk)
            QVERIFY2(rig.commands.readSerialNumber().ok, use.settings.constData());
        rig.port.close();
        termios after{};
        QCOMPARE(::tcgetattr(fd, &after), 0);
        const QByteArray differences = termiosDifferences(before, after);
        QVERIFY2(differences.isEmpty(), (use.settings + ": " + differences).constData());
    }
}

void TestSimPort::opensOnALineLeftAsAnOpenPortLeavesIt_data()
{
    QTest::addColumn<int>("index");
    for (int index = 0; index < kLineSettingsCount; ++index)
        QTest::newRow(kLineSettingsTable[index]) << index;
}

void TestSimPort::opensOnALineLeftAsAnOpenPortLeavesIt()
{
    // A tool that ends without closing its port leaves the line as the open port had it. The next
    // open must still succeed at every line setting, although a pseudo-terminal refuses parity.
    QFETCH(int, index);
    SimRig rig;
    QVERIFY(rig.start({"--line-settings-index", QString::number(index)}));
    const int fd = ::open(QFile::encodeName(rig.sim().slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });

    QVERIFY(rig.port.open(SimRig::kPort, kLineSettingsTable[index]));
    termios left{};
    QCOMPARE(::tcgetattr(fd, &left), 0);
    rig.port.close();
    QCOMPARE(::tcsetattr(fd, TCSANOW, &left), 0);

    QVERIFY2(rig.port.open(SimRig::kPort, kLineSettingsTable[index]),
             qPrintable(QString::number(int(rig.port.lastProblem()))));
    QVERIFY(rig.commands.readSerialNumber().ok);
    rig.port.close();
}

void TestSimPort::com1AndCom16ReachTheLinkedDevice()
{
    SimRig rig;
    QVERIFY(rig.start({"--serial", "LINKED16"}));
    rig.config().linkPort(1, rig.sim().slavePath());
    rig.config().linkPort(16, rig.sim().slavePath());
    for (int number : {1, 16}) {
        QVERIFY(rig.port.open(number, kDefaultSettings));
        const CommandResult serial = rig.commands.readSerialNumber();
        QVERIFY2(serial.ok, qPrintable(QString::number(number)));
        QCOMPARE(serial.value, QByteArray("LINKED16"));
        rig.port.close();
    }
    // The numbers in between are still linked to nothing.
    QVERIFY(!rig.port.open(2, kDefaultSettings));
    QCOMPARE(rig.port.lastProblem(), PortProblem::NoSuchPort);
    QVERIFY(!rig.port.open(15, kDefaultSettings));
}

void TestSimPort::simLinksItsPortAndRemovesTheLinkAtTheEnd_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("earlierLink");
    QTest::newRow("COM1, SIGTERM, earlier link") << 1 << int(SIGTERM) << true;
    QTest::newRow("COM16, SIGINT, no earlier link") << 16 << int(SIGINT) << false;
    QTest::newRow("COM16, SIGTERM, no earlier link") << 16 << int(SIGTERM) << false;
    QTest::newRow("COM1, SIGINT, earlier link") << 1 << int(SIGINT) << true;
}

void TestSimPort::simLinksItsPortAndRemovesTheLinkAtTheEnd()
{
    QFETCH(int, number);
    QFETCH(int, signal);
    QFETCH(bool, earlierLink);

    ScopedConfigHome config;
    QVERIFY(config.isValid());
    config.linkAllPortsToNothing();
    const QString link = config.portsDir() + QStringLiteral("/COM%1").arg(number);
    if (!earlierLink)
        QVERIFY(QFile::remove(link));
    const QString logPath = config.configHome() + QStringLiteral("/traffic.log");

    QProcess sim;
    sim.start(SimProcess::executablePath(),
              {"--com", QString::number(number), "--log", logPath, "--exit-on-eof", "--serial", "COMLINK1"});
    QVERIFY(sim.waitForStarted(kWaitMs));
    const QString slave = QString::fromLocal8Bit(readLineFrom(sim));
    QVERIFY(slave.startsWith(QStringLiteral("/dev/")));
    QCOMPARE(linkTarget(link), slave);

    {
        SystemClock clock;
        ModulePort port(clock);
        FrameLayer frames(port, clock);
        ModuleCommands commands(frames);
        QVERIFY(port.open(number, kDefaultSettings));
        QCOMPARE(commands.readSerialNumber().value, QByteArray("COMLINK1"));
        port.close();
    }

    QCOMPARE(::kill(pid_t(sim.processId()), signal), 0);
    QVERIFY(sim.waitForFinished(kWaitMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    if (earlierLink)
        QCOMPARE(linkTarget(link), config.nothingPath(number));
    else
        QVERIFY(!QFileInfo(link).isSymLink() && !QFileInfo::exists(link));

    // The log holds the traffic both ways, in time order, and the way the sim ended.
    QFile logFile(logPath);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    const std::vector<TrafficEvent> events = parseTrafficLog(logFile.readAll());
    QByteArray heard;
    QByteArray said;
    double last = 0.0;
    bool stopNoted = false;
    bool linkNoted = false;
    for (const TrafficEvent &event : events) {
        QVERIFY(event.timeMs >= last);
        last = event.timeMs;
        if (event.kind == TrafficEvent::Kind::Received)
            heard += event.bytes;
        else if (event.kind == TrafficEvent::Kind::Sent)
            said += event.bytes;
        else if (event.text == "stopped by signal " + QByteArray::number(signal))
            stopNoted = true;
        else if (event.text.endsWith(" as " + QFile::encodeName(link)))
            linkNoted = true;
    }
    QCOMPARE(heard, FrameLayer::buildFrame("S01"));
    QCOMPARE(said, FrameLayer::buildFrame("S01COMLINK1"));
    QVERIFY(stopNoted);
    QVERIFY(linkNoted);
    // Hexadecimal and text stand side by side on each traffic line.
    logFile.seek(0);
    const QByteArray raw = logFile.readAll();
    QVERIFY(raw.contains(" tx 0F 53 30 31 43 4F 4D 4C 49 4E 4B 31 "));
    QVERIFY(raw.contains(" |.S01COMLINK1"));
}

void TestSimPort::killedSimLeavesNoLinkThatIsUsed()
{
    ScopedConfigHome config;
    QVERIFY(config.isValid());
    config.linkAllPortsToNothing();
    const QString link = config.portsDir() + QStringLiteral("/COM5");

    QProcess killed;
    killed.start(SimProcess::executablePath(), {"--com", "5"});
    QVERIFY(killed.waitForStarted(kWaitMs));
    const QString slave = QString::fromLocal8Bit(readLineFrom(killed));
    QVERIFY(slave.startsWith(QStringLiteral("/dev/pts/")));
    killed.kill();
    QVERIFY(killed.waitForFinished(kWaitMs));
    // Nothing removes a link after SIGKILL: it stays, naming a pty number that is free again.
    QCOMPARE(linkTarget(link), slave);

    // The next terminal opened gets that number (the lowest free one).
    struct Terminal {
        int master = -1;
        int slave = -1;
        QString path;
    };
    std::vector<Terminal> terminals;
    for (int i = 0; i < 16 && (terminals.empty() || terminals.back().path != slave); ++i) {
        Terminal t;
        QCOMPARE(::openpty(&t.master, &t.slave, nullptr, nullptr, nullptr), 0);
        t.path = QString::fromLocal8Bit(::ttyname(t.slave));
        terminals.push_back(t);
    }
    auto closeTerminals = qScopeGuard([&terminals] {
        for (const Terminal &t : terminals) {
            ::close(t.slave);
            ::close(t.master);
        }
    });
    if (terminals.back().path != slave)
        QSKIP("another program took the pty number meanwhile; the stale link leads nowhere");

    SystemClock clock;
    ModulePort port(clock);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    QVERIFY(!port.open(5, kDefaultSettings));
    QCOMPARE(port.lastProblem(), PortProblem::StaleSimulatorLink);
    QCOMPARE(port.lastOpenStatus().devicePath, slave);
    QCOMPARE(probePort(5).problem, PortProblem::StaleSimulatorLink);
    pollfd unrelated{terminals.back().master, POLLIN, 0};
    QCOMPARE(::poll(&unrelated, 1, 50), 0);

    // The next sim on COM5 replaces the stale link, and at its end puts back the link from before.
    SimProcess next({"--com", "5", "--serial", "NEXTSIM1"});
    QVERIFY(next.start());
    QCOMPARE(linkTarget(link), next.slavePath());
    QVERIFY(next.errorOutput().contains(QStringLiteral("that is gone")));
    QVERIFY2(port.open(5, kDefaultSettings), portProblemKey(port.lastProblem()).data());
    QCOMPARE(commands.readSerialNumber().value, QByteArray("NEXTSIM1"));
    port.close();
    next.stop();
    QCOMPARE(linkTarget(link), config.nothingPath(5));
    QVERIFY(!QFileInfo::exists(link + QStringLiteral(".owner")));
}

void TestSimPort::lineLostWhileOpenIsReported()
{
    SimRig rig;
    QVERIFY(rig.start({"--serial", "GONESOON"}));
    QVERIFY(rig.port.open(SimRig::kPort, "19200,n,8,1"));
    QCOMPARE(rig.commands.readSerialNumber().value, QByteArray("GONESOON"));
    QCOMPARE(rig.port.lastProblem(), PortProblem::None);
    // The module's side of the line closes: the kernel hangs the terminal up under the open port.
    rig.sim().stop();
    QVERIFY(!rig.commands.readSerialNumber().ok);
    QCOMPARE(rig.port.lastProblem(), PortProblem::HungUpOrIoError);
    rig.port.close();
    QVERIFY(!rig.port.isOpen());
    QVERIFY(!rig.port.open(SimRig::kPort, "19200,n,8,1"));
    QVERIFY(rig.port.lastProblem() == PortProblem::NoSuchPort || rig.port.lastProblem() == PortProblem::HungUpOrIoError);
}

// With --hold N the test binary holds port N, reads the serial number through it, says so on its
// output, and keeps the port until its input ends.
int holdPort(int number)
{
    SystemClock clock;
    ModulePort port(clock);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    if (!port.open(number, kDefaultSettings)) {
        std::printf("busy %d\n", int(port.lastProblem()));
        return 1;
    }
    const CommandResult serial = commands.readSerialNumber();
    std::printf("held %s\n", serial.ok ? serial.value.constData() : "without reply");
    std::fflush(stdout);
    char sink[64];
    while (::read(STDIN_FILENO, sink, sizeof sink) > 0) {
    }
    port.close();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0)
        return holdPort(QByteArray(argv[2]).toInt());
    QCoreApplication app(argc, argv);
    TestSimPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sim_port.moc"
