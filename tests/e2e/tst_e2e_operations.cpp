// The whole tool end to end: the real window on the offscreen platform, the real module port,
// frame layer and settings file, and modulebench-sim on pseudo-terminals as the module.
#include "module_window.h"
#include "window_rig.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <set>

namespace {

const QString kSerial = QStringLiteral("KV240117");
const QString kVersion = QStringLiteral("03.20-01");
const QString kCustomer = QStringLiteral("ACME WAREHOUSE NORTH 012345678");
const QString kStars30(30, QLatin1Char('*'));

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

QStringList identity(const QStringList &more = {})
{
    return QStringList{QStringLiteral("--serial"), kSerial, QStringLiteral("--firmware"), kVersion,
                       QStringLiteral("--customer"), kCustomer}
           + more;
}

QList<QByteArray> since(const SimProcess *module, int count)
{
    return requestsHeard(*module).mid(count);
}

const QByteArray kClearCommand = "F06" + QByteArray(32, '*');

// Looks at the window whenever its pending events are processed while an operation runs.
class Sampler {
public:
    explicit Sampler(const WindowRig &rig) : m_rig(rig)
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            ++samples;
            enabledSeen |= m_rig.window().isEnabled();
            const QCursor *cursor = QApplication::overrideCursor();
            waitCursorAlways &= cursor && cursor->shape() == Qt::WaitCursor;
            colours.insert(m_rig.indicator().rgb());
        });
        m_timer.start();
    }
    int samples = 0;
    bool enabledSeen = false;
    bool waitCursorAlways = true;
    std::set<QRgb> colours;

private:
    const WindowRig &m_rig;
    QTimer m_timer;
};

bool defaultCursor()
{
    return QApplication::overrideCursor() == nullptr;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        r = std::make_unique<WindowRig>();
        QVERIFY(r->isValid());
    }
    void cleanup() { r.reset(); }

    void firstRunStoresCom7AndTheNextScansUseTheQuickAttempt()
    {
        SimProcess *module = r->addModule(7, identity());
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        QVERIFY(!QFile::exists(r->settingsFile()));
        QCOMPARE(r->listIndex(), 5);
        QVERIFY(r->lockChecked());
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Start Scan Module!"));

        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #7)"));
        QCOMPARE(r->text("pnSerial"), "S/N : " + kSerial);
        QCOMPARE(r->text("pnVersion"), "VER : " + kVersion);
        QCOMPARE(r->text("pnCustomer"), "Customer : " + kCustomer);
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(r->listIndex(), 5);
        QVERIFY(r->window().isEnabled());
        QCOMPARE(requestsHeard(*module), QList<QByteArray>({"S01", "V01", "G06"}));

        const QMap<QString, QString> stored = r->storedValues();
        QCOMPARE(stored.value("ScanCommNo"), QStringLiteral("7"));
        QCOMPARE(stored.value("ScanBaudRateNo"), QStringLiteral("5"));
        QCOMPARE(stored.value("ScanBaudRate"), QStringLiteral("19200,e,8,1"));

        // Same run: the stored port answers the first request, so nothing is stored again.
        QVERIFY(QFile::remove(r->settingsFile()));
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #7)"));
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(since(module, 3), QList<QByteArray>({"S01", "V01", "G06"}));
        QVERIFY(!QFile::exists(r->settingsFile()));

        // Next start of the program: the stored place comes from the file.
        r->stop();
        WindowRig::writeStoredPlace(7, 5, "19200,e,8,1");
        QVERIFY(r->start());
        QVERIFY(QFile::remove(r->settingsFile())); // loaded already; a write would bring it back
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #7)"));
        QCOMPARE(since(module, 6), QList<QByteArray>({"S01", "V01", "G06"}));
        QVERIFY(!QFile::exists(r->settingsFile()));
    }

    void moduleAt57600FoundWithTheLockUnchecked()
    {
        SimProcess *module = r->addModule(2, identity({"--line-settings-index", "8"}));
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        r->setLock(false);
        QVERIFY(!r->lockChecked());

        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #2)"));
        QCOMPARE(r->text("pnSerial"), "S/N : " + kSerial);
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(r->listIndex(), 8);
        // Two unanswered requests at each of the eight slower settings, then the answer at 57600.
        QList<QByteArray> expected;
        for (int i = 0; i < 8 * 2; ++i)
            expected << "S01";
        expected << "S01" << "V01" << "G06";
        QCOMPARE(requestsHeard(*module), expected);

        const QMap<QString, QString> stored = r->storedValues();
        QCOMPARE(stored.value("ScanCommNo"), QStringLiteral("2"));
        QCOMPARE(stored.value("ScanBaudRateNo"), QStringLiteral("8"));
        QCOMPARE(stored.value("ScanBaudRate"), QStringLiteral("57600,n,8,1"));
    }

    void baudRateChangeTo38400ThenTheQuickAttemptFindsIt()
    {
        SimProcess *module = r->addModule(3, identity());
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #3)"));
        const QMap<QString, QString> before = r->storedValues();
        QCOMPARE(before.value("ScanBaudRateNo"), QStringLiteral("5"));

        r->chooseListIndex(6);
        QCOMPARE(r->listIndex(), 6);
        r->click("btnBaudRate");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Set Module BaudRate Ok"));
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(r->listIndex(), 6);
        QCOMPARE(since(module, 3), QList<QByteArray>({"S01", "E016"}));
        QVERIFY(r->window().isEnabled());

        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #3)"));
        QCOMPARE(r->text("pnSerial"), "S/N : " + kSerial);
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(r->listIndex(), 6);
        // One request at 38400 in the quick attempt; the module no longer hears 19200.
        QCOMPARE(since(module, 5), QList<QByteArray>({"S01", "V01", "G06"}));
        QVERIFY(!module->log().contains(QLatin1String("no answer: line at")));
        // The change lives in memory only: the file still holds the setting the search found.
        QCOMPARE(r->storedValues(), before);

        QVERIFY(r->restart());
        QCOMPARE(r->listIndex(), 5);
    }

    void clearThenScanShowsTheClearedRegister()
    {
        SimProcess *module = r->addModule(4, identity());
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        r->click("btnScan");
        QCOMPARE(r->text("pnCustomer"), "Customer : " + kCustomer);

        {
            // Disabled without busy mode: the indicator keeps its colour until the outcome.
            Sampler sampler(*r);
            r->click("btnClear");
            QVERIFY(sampler.samples > 0);
            QVERIFY(!sampler.enabledSeen);
            QVERIFY(sampler.waitCursorAlways);
            QCOMPARE(sampler.colours, std::set<QRgb>({kYellow.rgb()}));
        }
        QVERIFY(defaultCursor());
        QVERIFY(r->window().isEnabled());
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Clear Customer Register Ok"));
        QCOMPARE(r->text("pnCustomer"), "Customer : " + kStars30);
        QCOMPARE(r->indicator(), kYellow);
        QCOMPARE(since(module, 3), QList<QByteArray>({"S01", kClearCommand}));

        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #4)"));
        QCOMPARE(since(module, 5), QList<QByteArray>({"S01", "V01", "G06"}));
        // The register as read back from the module: what a cleared register holds.
        QVERIFY(module->log().contains(QLatin1String("|.G06") + kStars30));
        QCOMPARE(r->text("pnCustomer"), "Customer : " + kStars30);
        QCOMPARE(r->indicator(), kYellow);
    }

    // The module swapped (or the port re-pointed) after the scan: the change would reach a module the window
    // never read. Nothing is sent to change either one, and a new scan is asked for.
    void aModuleSwappedAfterTheScanIsNeverChanged()
    {
        SimProcess *read = r->addModule(3, identity());
        SimProcess *other = r->addModule(9, {"--serial", "KV999999"});
        QVERIFY2(read && other, qPrintable(r->lastError()));
        QVERIFY(r->start());
        r->click("btnScan");
        QCOMPARE(r->text("pnSerial"), "S/N : " + kSerial);
        r->linkPort(3, other->slavePath());

        r->click("btnClear");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Start Scan Module!"));
        QCOMPARE(r->indicator(), kRed);
        QCOMPARE(requestsHeard(*other), QList<QByteArray>({"S01"}));
        r->chooseListIndex(6);
        r->click("btnBaudRate");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Start Scan Module!"));
        QCOMPARE(requestsHeard(*other), QList<QByteArray>({"S01"}));
        QCOMPARE(requestsHeard(*read), QList<QByteArray>({"S01", "V01", "G06"}));
    }

    void silentModuleIsNotFoundAndTheListReturnsToIndex5()
    {
        SimProcess *module = r->addModule(1, {"--silent"});
        QVERIFY2(module, qPrintable(r->lastError()));
        WindowRig::writeStoredPlace(1, 8, "57600,n,8,1");
        const QMap<QString, QString> before = r->storedValues();
        QVERIFY(r->start());
        QCOMPARE(r->listIndex(), 8);

        {
            // While replies are awaited the window repaints and blinks, disabled, under the hourglass.
            Sampler sampler(*r);
            r->click("btnScan");
            QVERIFY(sampler.samples > 10);
            QVERIFY(!sampler.enabledSeen);
            QVERIFY(sampler.waitCursorAlways);
            QCOMPARE(sampler.colours, std::set<QRgb>({kRed.rgb(), kYellow.rgb()}));
        }
        QVERIFY(defaultCursor());
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Module Not Find"));
        QCOMPARE(r->indicator(), kRed);
        QCOMPARE(r->listIndex(), 5);
        QCOMPARE(r->text("pnSerial"), QStringLiteral("S/N : ________"));
        QVERIFY(r->window().isEnabled());
        // Three requests in the quick attempt, two when the search reaches COM1 at the stored setting.
        QCOMPARE(requestsHeard(*module), QList<QByteArray>(5, "S01"));
        QCOMPARE(r->storedValues(), before);

        r->click("btnClear");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Start Scan Module!"));
        QCOMPARE(requestsHeard(*module).size(), 5);
    }

    void moduleThatNeverAnswersV01GivesTheInformationError()
    {
        SimProcess *module = r->addModule(2, identity({"--ignore", "V01"}));
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Get Module Info Error. (COM : #2)"));
        QCOMPARE(r->text("pnSerial"), "S/N : " + kSerial);
        QCOMPARE(r->text("pnVersion"), QStringLiteral("VER : __.__-__"));
        QCOMPARE(r->text("pnCustomer"), "Customer : " + kStars30);
        QCOMPARE(r->indicator(), kRed);
        QCOMPARE(requestsHeard(*module), QList<QByteArray>({"S01", "V01", "V01"}));
        // The search had found it: stored before the information read.
        QCOMPARE(r->storedValues().value("ScanCommNo"), QStringLiteral("2"));

        r->chooseListIndex(6);
        r->click("btnBaudRate");
        QCOMPARE(r->text("pnMsg"), QStringLiteral("Start Scan Module!"));
        QCOMPARE(r->indicator(), kRed);
        QCOMPARE(requestsHeard(*module).size(), 3);
    }

    void chineseTextsAfterALanguageSwitch()
    {
        SimProcess *module = r->addModule(4, identity());
        QVERIFY2(module, qPrintable(r->lastError()));
        QVERIFY(r->start());
        QCOMPARE(r->text("btnScan"), QStringLiteral("Scan Module"));

        r->click("btnGB");
        QCOMPARE(r->storedValues().value("LanguageFlag"), QStringLiteral("ChineseGB"));
        QCOMPARE(r->text("btnScan"), QString::fromUtf8("扫描模组"));
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QString::fromUtf8("读取模组资讯完成. (串口 : #4)"));
        QCOMPARE(r->text("pnSerial"), QString::fromUtf8("序号 : ") + kSerial);
        QCOMPARE(r->text("pnVersion"), QString::fromUtf8("版本 : ") + kVersion);
        QCOMPARE(r->text("pnCustomer"), QString::fromUtf8("注册单位 : ") + kCustomer);

        // The switch clears the panels back to their placeholders but keeps the module found.
        r->click("btnBIG5");
        QCOMPARE(r->storedValues().value("LanguageFlag"), QStringLiteral("ChineseBIG5"));
        QCOMPARE(r->text("pnSerial"), QString::fromUtf8("序號 : ________"));
        QCOMPARE(r->text("pnMsg"), QString::fromUtf8("請先掃描模組!"));
        r->click("btnClear");
        QCOMPARE(r->text("pnMsg"), QString::fromUtf8("清除註冊單位完成"));
        QCOMPARE(r->text("pnCustomer"), QString::fromUtf8("註冊單位 : ") + kStars30);
        QCOMPARE(since(module, 3), QList<QByteArray>({"S01", kClearCommand}));

        // A failed scan in the new language, after the module has gone.
        module->stop();
        r->click("btnScan");
        QCOMPARE(r->text("pnMsg"), QString::fromUtf8("模組沒有連線"));
        QCOMPARE(r->indicator(), kRed);

        // The language is read back at the next start.
        QVERIFY(r->restart());
        QCOMPARE(r->text("btnScan"), QString::fromUtf8("掃描模組"));
    }

private:
    std::unique_ptr<WindowRig> r;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_operations.moc"
