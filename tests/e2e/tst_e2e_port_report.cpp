// Why a port could not be used, as the window tells it after a scan: the status panel's tooltip
// with one line per port tried, and the same lines on the modulebench.scan logging category.
#include "module_window.h"
#include "window_rig.h"

#include <QApplication>
#include <QtTest>

#include <cstdio>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kModuleNotFind = QStringLiteral("Module Not Find");

// Messages of the scan's logging category, as they would go to standard error.
QStringList g_scanLog;
QtMessageHandler g_previousHandler = nullptr;

void captureScanLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && qstrcmp(context.category, "modulebench.scan") == 0)
        g_scanLog << message;
    else
        g_previousHandler(type, context, message);
}

QStringList noSuchPorts(int from, int to)
{
    QStringList lines;
    for (int n = from; n <= to; ++n)
        lines << QStringLiteral("COM%1 (no device): no such port").arg(n);
    return lines;
}

} // namespace

class TestPortReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureScanLog); }
    void init()
    {
        g_scanLog.clear();
        r = std::make_unique<WindowRig>();
        QVERIFY(r->isValid());
    }
    void cleanup() { r.reset(); }

    void tooltipAfterScanWithOneBusyAndOneMissingPort()
    {
        SimProcess *held = r->addModule(1, {QStringLiteral("--serial"), QStringLiteral("HELDBUSY")});
        QVERIFY2(held, qPrintable(r->lastError()));
        SimProcess *silent = r->addModule(3, {QStringLiteral("--silent")});
        QVERIFY2(silent, qPrintable(r->lastError()));
        // COM2, like every other number here, is linked to nothing.
        DeviceHolder holder(QStringLiteral("flock"), held->slavePath());
        QVERIFY2(holder.start(), qPrintable(holder.errorOutput()));

        QVERIFY(r->start());
        QVERIFY(r->toolTip("pnMsg").isEmpty());
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), kModuleNotFind);
        const QStringList expected = QStringList{
            QStringLiteral("COM1 (%1): held by another program (mb_port_holder, process %2)")
                .arg(held->slavePath())
                .arg(holder.pid()),
            QStringLiteral("COM2 (no device): no such port"),
            QStringLiteral("COM3 (%1): opened, no answer at 19200,e,8,1 (2 requests)")
                .arg(silent->slavePath())}
            + noSuchPorts(4, 16);
        QCOMPARE(r->toolTip("pnMsg").split(QLatin1Char('\n')), expected);
        // The same lines on standard error, since the scan failed.
        QCOMPARE(g_scanLog, expected);
        // Nothing reached the module behind the held port; the scan's requests elsewhere are as ever.
        QVERIFY(requestsHeard(*held).isEmpty());
        QCOMPARE(requestsHeard(*silent), QList<QByteArray>({"S01", "S01"}));

        // The tooltip follows the language, as every text of the window does.
        r->click("btnGB");
        const QStringList chinese = r->toolTip("pnMsg").split(QLatin1Char('\n'));
        QCOMPARE(chinese.size(), 16);
        QCOMPARE(chinese.at(0), QString::fromUtf8("COM1 (%1): 已被其他程序占用（mb_port_holder，进程 %2）")
                                    .arg(held->slavePath())
                                    .arg(holder.pid()));
        QCOMPARE(chinese.at(1), QString::fromUtf8("COM2 (无设备): 没有此端口"));
        r->click("btnBIG5");
        QCOMPARE(r->toolTip("pnMsg").split(QLatin1Char('\n')).at(1), QString::fromUtf8("COM2 (無裝置): 沒有此連接埠"));
        r->click("btnEng");

        // Once the other program lets go, the module answers; a scan that ends well logs nothing.
        holder.stop();
        g_scanLog.clear();
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #1)"));
        QCOMPARE(r->toolTip("pnMsg"), QStringLiteral("COM1 (%1): module answered").arg(held->slavePath()));
        QVERIFY2(g_scanLog.isEmpty(), qPrintable(g_scanLog.join(QLatin1Char('\n'))));
    }

    void permissionDeniedShownAsSuch()
    {
        QString reason;
        if (!canRunAsNobody(&reason))
            QSKIP(qPrintable(QStringLiteral("permission denied not checked: ") + reason));
        // A root-owned terminal that only root may open, scanned by a window that runs as nobody. The hint
        // names the group dialout only for a device of that group; for any other it says whose the device is.
        struct Case {
            const char *group;
            mode_t mode;
            QString hint;
        };
        const QList<Case> cases{
            {"tty", 0600, QStringLiteral("permission denied: the device belongs to root, group tty, mode 0600")},
            {"dialout", 0660,
             QStringLiteral("permission denied: on Debian, make the user a member of the group "
                            "dialout (sudo adduser $USER dialout), then log in again")},
        };
        for (const Case &c : cases) {
            const group *entry = ::getgrnam(c.group);
            if (!entry)
                QSKIP(qPrintable(QStringLiteral("no group ") + QLatin1String(c.group)));
            int master = -1;
            int slave = -1;
            QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
            const QString device = QString::fromLocal8Bit(::ttyname(slave));
            QCOMPARE(::fchown(slave, 0, entry->gr_gid), 0);
            QCOMPARE(::fchmod(slave, c.mode), 0);
            std::unique_ptr<QProcess> window(startAsNobody(QCoreApplication::applicationFilePath(),
                                                           {QStringLiteral("--scan-as-user"), device}));
            const bool finished = window->waitForFinished(30000);
            ::close(slave);
            ::close(master);
            QVERIFY(finished);
            const QStringList out = QString::fromUtf8(window->readAllStandardOutput()).split(QLatin1Char('\n'));
            QVERIFY2(window->exitCode() == 0, window->readAllStandardError().constData());
            QCOMPARE(out.value(0), QStringLiteral("pnMsg: ") + kModuleNotFind);
            QCOMPARE(out.value(1), QStringLiteral("COM1 (%1): ").arg(device) + c.hint);
            QCOMPARE(out.value(2), QStringLiteral("COM2 (no device): no such port"));
        }
    }

private:
    std::unique_ptr<WindowRig> r;
};

// --scan-as-user DEVICE: the window in a private folder of its own, with COM1 linked to DEVICE; one scan,
// then the status panel's text and tooltip on standard output. The permission test runs it as nobody.
int scanAsUser(const QString &device)
{
    WindowRig rig;
    rig.linkPort(1, device);
    if (!rig.isValid() || !rig.start())
        return 2;
    rig.click(QStringLiteral("btnScan"));
    std::printf("pnMsg: %s\n%s\n", qUtf8Printable(rig.text(QStringLiteral("pnMsg"))),
                qUtf8Printable(rig.toolTip(QStringLiteral("pnMsg"))));
    return 0;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--scan-as-user") == 0)
        return scanAsUser(QString::fromLocal8Bit(argv[2]));
    TestPortReport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_port_report.moc"
