// The real window on the offscreen platform: layout, captions, languages, busy mode, closing and input.
#include "contrast.h"
#include "message_table.h"
#include "module_window.h"
#include "startup.h"
#include "test_support.h"
#include "window_fixture.h"
#include "window_platform.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGlyphRun>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

namespace {

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QString kCustomerStars = QStringLiteral("******************************");

// The window with a look into its beep, the last thing an operation does before the window takes input again.
class ProbeWindow : public TfrmModule {
public:
    using TfrmModule::TfrmModule;
    std::function<void()> onBeep;

    void beep(int frequencyHz, int durationMs) override
    {
        if (onBeep)
            onBeep();
        TfrmModule::beep(frequencyHz, durationMs);
    }
};


// Every caption FormShow writes, in one language.
struct Captions {
    QString title;
    QString makerPrefix; // message 0 up to the web address
    QString msg;
    QString serial;
    QString version;
    QString customer;
    QString baudRateLabel;
    QString scan;
    QString baudRate;
    QString exit;
    QString clear;
};

const Captions &captions(int language)
{
    static const Captions table[3] = {
        {QStringLiteral("KAVOR MARDEN-F Module Config V3.20-01"), QStringLiteral("KAVOR Technology Corp.   "),
         QStringLiteral("Start Scan Module!"), QStringLiteral("S/N : ________"), QStringLiteral("VER : __.__-__"),
         QStringLiteral("Customer : ") + kCustomerStars, QStringLiteral("BaudRate:"), QStringLiteral("Scan Module"),
         QStringLiteral("Set Module Baud Rate (Reset)"), QStringLiteral("Exit"),
         QStringLiteral("Clear Customer Register")},
        {QStringLiteral("KAVOR MARDEN-F 模组设定程式 V3.20-01"), QStringLiteral("KAVOR股份有限公司   "),
         QStringLiteral("请先扫描模组!"), QStringLiteral("序号 : ________"), QStringLiteral("版本 : __.__-__"),
         QStringLiteral("注册单位 : ") + kCustomerStars, QStringLiteral("通讯速度:"), QStringLiteral("扫描模组"),
         QStringLiteral("设定通讯速度(重置)"), QStringLiteral("结束"), QStringLiteral("清除注册单位")},
        {QStringLiteral("KAVOR MARDEN-F 模組設定程式 V3.20-01"), QStringLiteral("KAVOR股份有限公司   "),
         QStringLiteral("請先掃描模組!"), QStringLiteral("序號 : ________"), QStringLiteral("版本 : __.__-__"),
         QStringLiteral("註冊單位 : ") + kCustomerStars, QStringLiteral("通訊速度:"), QStringLiteral("掃描模組"),
         QStringLiteral("設定通訊速度(重置)"), QStringLiteral("結束"), QStringLiteral("清除註冊單位")},
    };
    return table[language];
}

const QStringList kLanguageNames{QStringLiteral("English"), QStringLiteral("ChineseGB"),
                                 QStringLiteral("ChineseBIG5")};

const QStringList kLineSettings{
    QStringLiteral("4800,n,8,1"),  QStringLiteral("4800,e,8,1"),   QStringLiteral("9600,n,8,1"),
    QStringLiteral("9600,e,8,1"),  QStringLiteral("19200,n,8,1"),  QStringLiteral("19200,e,8,1"),
    QStringLiteral("38400,n,8,1"), QStringLiteral("38400,e,8,1"),  QStringLiteral("57600,n,8,1"),
    QStringLiteral("57600,e,8,1"), QStringLiteral("115200,n,8,1"), QStringLiteral("115200,e,8,1")};

const QStringList kButtons{QStringLiteral("btnScan"), QStringLiteral("btnBaudRate"), QStringLiteral("btnExit"),
                           QStringLiteral("btnEng"),  QStringLiteral("btnGB"),       QStringLiteral("btnBIG5"),
                           QStringLiteral("btnClear")};

const MessageTable &messageTable()
{
    static const MessageTable table;
    return table;
}

template <class T> T *control(QWidget &window, const QString &name)
{
    return window.findChild<T *>(name);
}

QString captionOf(QObject *object)
{
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *list = qobject_cast<QComboBox *>(object))
        return list->currentText();
    return {};
}

QColor colour(QWidget *widget, QPalette::ColorRole role)
{
    return widget->palette().color(QPalette::Active, role);
}

// Glyph 0 is the font's missing-character box.
bool drawnWithoutBoxes(const QString &text, const QFont &font, QString *families)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        families->append(run.rawFont().familyName() + QLatin1Char(' '));
        for (quint32 index : run.glyphIndexes()) {
            if (index == 0)
                return false;
            ++glyphs;
        }
    }
    return glyphs > 0;
}

int redPixels(const QIcon &icon, const QSize &size)
{
    const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 128 && pixel.red() > 150 && pixel.green() < 90 && pixel.blue() < 90)
                ++count;
        }
    }
    return count;
}

// Input as the window system hands it over: queued for the window, delivered when events are next processed.
void queueClick(QWidget &window, QWidget *target)
{
    const QPointF local = target->mapTo(&window, target->rect().center());
    const QPointF global = window.mapToGlobal(local);
    QCoreApplication::postEvent(window.windowHandle(),
                                new QMouseEvent(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton,
                                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(window.windowHandle(),
                                new QMouseEvent(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton,
                                                Qt::NoButton, Qt::NoModifier));
}

void queueKey(QWidget &window, Qt::Key key, const QString &text = QString())
{
    QCoreApplication::postEvent(window.windowHandle(), new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(window.windowHandle(), new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

// What a window manager does when its close box is used; true when the window agreed to close.
bool windowManagerClose(QWidget &window)
{
    QCloseEvent request;
    QCoreApplication::sendEvent(window.windowHandle(), &request);
    return request.isAccepted();
}

QVariant storedValue(const QString &file, const QString &key)
{
    QSettings stored(file, QSettings::IniFormat);
    return stored.value(key);
}

} // namespace

class TestModuleWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void applicationTitle();
    void programStarts();

    void controls_data();
    void controls();
    void declarationOrder();
    void look();
    void tabOrder();
    void fixedCentredWindow();

    void startSettings_data();
    void startSettings();
    void captionsAfterShow_data();
    void captionsAfterShow();
    void languageButtons_data();
    void languageButtons();

    void busyBlink();
    void closeWhileIdle();
    void enterPressesDefaultButton_data();
    void enterPressesDefaultButton();
    void inputWhileDisabled_data();
    void inputWhileDisabled();
    void operationsAgainstTheModule();

private:
    ProbeWindow &createWindow();
    void showActive(QWidget &window);
    void storeSettings(const QVariantMap &values);

    std::unique_ptr<WindowFixture<ScopedConfigHome, ProbeWindow>> m_fixture;
};

void TestModuleWindow::init()
{
    m_fixture = std::make_unique<WindowFixture<ScopedConfigHome, ProbeWindow>>();
    QVERIFY(m_fixture->sandbox.isValid());
    m_fixture->sandbox.linkAllPortsToNothing();
}

void TestModuleWindow::cleanup()
{
    m_fixture.reset();
}

ProbeWindow &TestModuleWindow::createWindow()
{
    return m_fixture->tool.create();
}

void TestModuleWindow::showActive(QWidget &window)
{
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

void TestModuleWindow::storeSettings(const QVariantMap &values)
{
    QSettings stored(m_fixture->sandbox.settingsFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        stored.setValue(it.key(), it.value());
    stored.sync();
    QCOMPARE(stored.status(), QSettings::NoError);
}

void TestModuleWindow::applicationTitle()
{
    setUpApplication();
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("KAVOR MARDEN-F Module Config"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("KAVOR MARDEN-F Module Config"));

    // The title bar carries the window's own caption, nothing joined to it.
    ProbeWindow &window = createWindow();
    window.show();
    QCOMPARE(window.windowTitle(), captions(0).title);
}

void TestModuleWindow::programStarts()
{
    // Start-up reads the settings and shows the window; it writes nothing and keeps running until closed.
    QProcess tool;
    tool.setProgram(QStringLiteral(MB_TOOL_PATH));
    tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    tool.start();
    QVERIFY(tool.waitForStarted(5000));
    QVERIFY2(!tool.waitForFinished(1500), tool.readAllStandardError().constData());
    QCOMPARE(tool.state(), QProcess::Running);
    tool.terminate();
    QVERIFY(tool.waitForFinished(5000));
    QVERIFY(!QFile::exists(m_fixture->sandbox.settingsFile()));
}

void TestModuleWindow::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption"); // before the window is shown

    const QString window = QStringLiteral("frmModule");
    const QString button = QStringLiteral("QPushButton");
    const QString panel = QStringLiteral("Panel");
    QTest::newRow("btnScan") << button << window << QRect(8, 78, 345, 33) << QStringLiteral("&Scan Module");
    QTest::newRow("pnSerial") << panel << window << QRect(8, 48, 169, 28) << QStringLiteral("S/N : ________");
    QTest::newRow("lblBaudRate") << QStringLiteral("QLabel") << window << QRect(8, 125, 153, 22)
                                 << QStringLiteral("Baud Rate :");
    QTest::newRow("cmbBaudRate") << QStringLiteral("QComboBox") << window << QRect(168, 120, 161, 28)
                                 << QStringLiteral("19200,e,8,1");
    QTest::newRow("btnBaudRate") << button << window << QRect(8, 150, 345, 33)
                                 << QStringLiteral("Set Module &Baud Rate (Reset)");
    QTest::newRow("pnVersion") << panel << window << QRect(184, 48, 169, 28) << QStringLiteral("VER : __.__-__");
    QTest::newRow("pnMsg") << panel << window << QRect(8, 4, 345, 40) << QStringLiteral("Start Scan Module");
    QTest::newRow("shComm") << QStringLiteral("CircleShape") << QStringLiteral("pnMsg") << QRect(310, 8, 23, 20)
                            << QString();
    QTest::newRow("btnExit") << button << window << QRect(8, 296, 345, 33) << QStringLiteral("&Exit");
    QTest::newRow("btnEng") << button << window << QRect(7, 264, 106, 24) << QStringLiteral("English");
    QTest::newRow("btnGB") << button << window << QRect(128, 264, 105, 24) << QString();
    QTest::newRow("btnBIG5") << button << window << QRect(248, 264, 105, 24) << QString();
    QTest::newRow("pnCustomer") << panel << window << QRect(8, 192, 345, 28)
                                << QStringLiteral("Customer : ") + kCustomerStars;
    QTest::newRow("btnClear") << button << window << QRect(8, 224, 345, 33)
                              << QStringLiteral("&Clear Customer Register");
    QTest::newRow("pnKAVOR") << panel << window << QRect(2, 332, 354, 21)
                             << messageTable().text(0, 0); // message 0, checked on its own below
    QTest::newRow("chkLock") << QStringLiteral("QCheckBox") << window << QRect(336, 124, 17, 17) << QString();
}

void TestModuleWindow::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    ProbeWindow &window = createWindow();
    QCOMPARE(window.objectName(), QStringLiteral("frmModule"));
    const QList<QWidget *> found = window.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(captionOf(widget), caption);
    QVERIFY(widget->isVisibleTo(&window));
}

void TestModuleWindow::declarationOrder()
{
    ProbeWindow &window = createWindow();
    const QStringList expected{
        QStringLiteral("btnScan"),     QStringLiteral("pnSerial"),   QStringLiteral("lblBaudRate"),
        QStringLiteral("cmbBaudRate"), QStringLiteral("btnBaudRate"), QStringLiteral("pnVersion"),
        QStringLiteral("pnMsg"),       QStringLiteral("tmrBusy"),    QStringLiteral("btnExit"),
        QStringLiteral("btnEng"),      QStringLiteral("btnGB"),      QStringLiteral("btnBIG5"),
        QStringLiteral("pnCustomer"),  QStringLiteral("btnClear"),   QStringLiteral("pnKAVOR"),
        QStringLiteral("chkLock")};
    QStringList names;
    for (const QObject *child : window.children()) {
        if (!child->objectName().isEmpty())
            names.append(child->objectName());
    }
    QCOMPARE(names, expected);
    QCOMPARE(control<QWidget>(window, QStringLiteral("shComm"))->parent()->objectName(), QStringLiteral("pnMsg"));
}

void TestModuleWindow::look()
{
    ProbeWindow &window = createWindow();
    const SystemColours system = systemColours(QApplication::palette());

    // The window: button-face background, "MS Sans Serif" 16 px bold or a sans font at that size.
    QCOMPARE(colour(&window, QPalette::Window), system.buttonFace);
    QCOMPARE(window.font().families().value(0), QStringLiteral("MS Sans Serif"));
    QCOMPARE(window.font().pixelSize(), 16);
    QVERIFY(window.font().bold());
    QCOMPARE(QFontInfo(window.font()).pixelSize(), 16);

    for (const char *name : {"pnSerial", "pnVersion", "pnCustomer"}) {
        auto *panel = control<Panel>(window, QLatin1String(name));
        QVERIFY2(panel, name);
        // The system's highlight, darkened as far as yellow text needs.
        QCOMPARE(colour(panel, QPalette::Window), readableBackground(system.highlight, kYellow));
        QCOMPARE(colour(panel, QPalette::WindowText), kYellow);
        QVERIFY(panel->autoFillBackground());
        QCOMPARE(panel->font().pixelSize(), 16);
        QVERIFY(panel->font().bold());
        QCOMPARE(panel->frameShape(), QFrame::Panel);
        QCOMPARE(panel->lineWidth(), 1);
        QVERIFY(!panel->hasInnerBevel());
    }
    QCOMPARE(control<Panel>(window, QStringLiteral("pnCustomer"))->font().families().value(0),
             QStringLiteral("Times New Roman"));
    QCOMPARE(QFontInfo(control<Panel>(window, QStringLiteral("pnCustomer"))->font()).pixelSize(), 16);

    auto *pnMsg = control<Panel>(window, QStringLiteral("pnMsg"));
    QCOMPARE(colour(pnMsg, QPalette::Window), readableBackground(system.activeCaption, kWhite));
    QCOMPARE(colour(pnMsg, QPalette::WindowText), kWhite);
    QVERIFY(pnMsg->font().bold());
    QCOMPARE(pnMsg->font().pixelSize(), 16);
    QCOMPARE(pnMsg->frameShape(), QFrame::Panel);
    QVERIFY(pnMsg->hasInnerBevel());

    auto *pnKAVOR = control<Panel>(window, QStringLiteral("pnKAVOR"));
    QCOMPARE(colour(pnKAVOR, QPalette::Window), QColor(0x80, 0x00, 0x80));
    QCOMPARE(colour(pnKAVOR, QPalette::WindowText), kWhite);
    QCOMPARE(pnKAVOR->font().families().value(0), QStringLiteral("Microsoft Sans Serif"));
    QCOMPARE(pnKAVOR->font().pixelSize(), 11);
    QVERIFY(!pnKAVOR->font().bold());

    auto *shComm = control<CircleShape>(window, QStringLiteral("shComm"));
    QCOMPARE(shComm->brushColor(), kRed);

    auto *lblBaudRate = control<QLabel>(window, QStringLiteral("lblBaudRate"));
    QVERIFY(lblBaudRate->alignment() & Qt::AlignRight);
    QVERIFY(!lblBaudRate->wordWrap());
    QCOMPARE(lblBaudRate->font().pixelSize(), 13);
    QVERIFY(!lblBaudRate->font().bold());

    auto *cmbBaudRate = control<QComboBox>(window, QStringLiteral("cmbBaudRate"));
    QVERIFY(!cmbBaudRate->isEditable());
    QStringList items;
    for (int i = 0; i < cmbBaudRate->count(); ++i) {
        items.append(cmbBaudRate->itemText(i));
        QCOMPARE(cmbBaudRate->view()->sizeHintForRow(i), 20);
    }
    QCOMPARE(items, kLineSettings);
    QCOMPARE(colour(cmbBaudRate, QPalette::Button), readableBackground(system.highlight, kYellow));
    QCOMPARE(colour(cmbBaudRate, QPalette::ButtonText), kYellow);
    QCOMPARE(cmbBaudRate->font().pixelSize(), 16);
    QVERIFY(cmbBaudRate->font().bold());

    auto *btnEng = control<QPushButton>(window, QStringLiteral("btnEng"));
    // Red, as dark as the button face needs.
    QCOMPARE(colour(btnEng, QPalette::ButtonText).hslHue(), 0);
    QVERIFY(colour(btnEng, QPalette::ButtonText).hslSaturation() > 200);
    QCOMPARE(btnEng->font().pixelSize(), 13);
    QVERIFY(!btnEng->font().bold());

    // Pictures: 16 by 16 on the four wide buttons, the two red characters 34 by 16 on the language buttons.
    for (const char *name : {"btnScan", "btnBaudRate", "btnClear", "btnExit"}) {
        auto *button = control<QPushButton>(window, QLatin1String(name));
        QVERIFY2(!button->icon().isNull(), name);
        QCOMPARE(button->iconSize(), QSize(16, 16));
    }
    for (const char *name : {"btnGB", "btnBIG5"}) {
        auto *button = control<QPushButton>(window, QLatin1String(name));
        QVERIFY2(button->icon().availableSizes().contains(QSize(34, 16)), name);
        QCOMPARE(button->iconSize(), QSize(34, 16));
        QVERIFY2(redPixels(button->icon(), QSize(34, 16)) >= 30, name);
    }
    QVERIFY(control<QPushButton>(window, QStringLiteral("btnGB"))->icon().pixmap(34, 16).toImage()
            != control<QPushButton>(window, QStringLiteral("btnBIG5"))->icon().pixmap(34, 16).toImage());

    for (const QString &name : kButtons)
        QCOMPARE(control<QPushButton>(window, name)->isDefault(), name == QLatin1String("btnScan"));

    auto *tmrBusy = window.findChild<QTimer *>(QStringLiteral("tmrBusy"));
    QVERIFY(tmrBusy);
    QVERIFY(!tmrBusy->isActive());
    QVERIFY(!tmrBusy->isSingleShot());
    QCOMPARE(tmrBusy->interval(), 200);

    QVERIFY(control<QCheckBox>(window, QStringLiteral("chkLock"))->isChecked());
}

void TestModuleWindow::tabOrder()
{
    ProbeWindow &window = createWindow();
    showActive(window);

    // The panels and the label never take focus; the rest follow their tab order numbers.
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if (name.startsWith(QLatin1String("pn")) || name == QLatin1String("lblBaudRate")
            || name == QLatin1String("shComm"))
            QVERIFY2(widget->focusPolicy() == Qt::NoFocus, qPrintable(name));
    }
    QWidget *start = control<QWidget>(window, QStringLiteral("btnScan"));

    // Tab visits the controls that take focus, starting at btnScan, and comes round again.
    QCOMPARE(QApplication::focusWidget(), start);
    const QStringList stops{QStringLiteral("cmbBaudRate"), QStringLiteral("btnBaudRate"), QStringLiteral("btnExit"),
                            QStringLiteral("btnEng"),      QStringLiteral("btnGB"),       QStringLiteral("btnBIG5"),
                            QStringLiteral("btnClear"),    QStringLiteral("chkLock"),     QStringLiteral("btnScan")};
    for (const QString &next : stops) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("chkLock"));
}

void TestModuleWindow::fixedCentredWindow()
{
    ProbeWindow &window = createWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QSize client(359, 353);
    QCOMPARE(window.size(), client);
    QCOMPARE(window.minimumSize(), client);
    QCOMPARE(window.maximumSize(), client);

    // In the middle of the desktop, up to the window frame the system adds.
    const QRect desktop = window.screen()->availableGeometry();
    const QPoint offset = window.geometry().center() - desktop.center();
    QVERIFY2(qAbs(offset.x()) <= 20 && qAbs(offset.y()) <= 40,
             qPrintable(QStringLiteral("off centre by %1,%2").arg(offset.x()).arg(offset.y())));

    // Title bar: system menu and minimise; no maximise, and no close box where one can be refused.
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowSystemMenuHint);
#ifndef Q_OS_WIN
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
#endif

    window.resize(600, 500);
    QCOMPARE(window.size(), client);
    window.setGeometry(QRect(window.pos(), QSize(200, 100)));
    QCOMPARE(window.size(), client);
    // The window system is told the same: smallest and largest size are the client area.
    QCOMPARE(window.windowHandle()->minimumSize(), client);
    QCOMPARE(window.windowHandle()->maximumSize(), client);
}

void TestModuleWindow::startSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<int>("index");

    QTest::newRow("nothing stored") << QVariantMap() << 5;
    QTest::newRow("stored line settings") << QVariantMap{{QStringLiteral("ScanCommNo"), 4},
                                                         {QStringLiteral("ScanBaudRateNo"), 7},
                                                         {QStringLiteral("ScanBaudRate"), QStringLiteral("38400,e,8,1")}}
                                          << 7;
    QTest::newRow("language only") << QVariantMap{{QStringLiteral("LanguageFlag"), QStringLiteral("ChineseBIG5")}}
                                   << 5;
}

void TestModuleWindow::startSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(int, index);
    if (!stored.isEmpty())
        storeSettings(stored);

    ProbeWindow &window = createWindow();
    auto *cmbBaudRate = control<QComboBox>(window, QStringLiteral("cmbBaudRate"));
    QCOMPARE(cmbBaudRate->currentIndex(), index);
    QCOMPARE(cmbBaudRate->currentText(), kLineSettings.at(index));
    QVERIFY(!m_fixture->tool.session.moduleInHand().found);
    QVERIFY(control<QCheckBox>(window, QStringLiteral("chkLock"))->isChecked());
    QCOMPARE(m_fixture->tool.session.settings().languageName(),
             stored.value(QStringLiteral("LanguageFlag"), QStringLiteral("English")).toString());

    // Showing the window changes neither the selection nor the store.
    window.show();
    QCOMPARE(cmbBaudRate->currentIndex(), index);
    if (stored.isEmpty())
        QVERIFY(!QFile::exists(m_fixture->sandbox.settingsFile()));
}

void TestModuleWindow::captionsAfterShow_data()
{
    QTest::addColumn<QString>("languageFlag");
    QTest::addColumn<int>("language");

    QTest::newRow("nothing stored") << QString() << 0;
    QTest::newRow("English") << QStringLiteral("English") << 0;
    QTest::newRow("ChineseGB") << QStringLiteral("ChineseGB") << 1;
    QTest::newRow("ChineseBIG5") << QStringLiteral("ChineseBIG5") << 2;
    QTest::newRow("wrong case") << QStringLiteral("chinesegb") << 0;
}

void TestModuleWindow::captionsAfterShow()
{
    QFETCH(QString, languageFlag);
    QFETCH(int, language);
    if (!languageFlag.isEmpty())
        storeSettings({{QStringLiteral("LanguageFlag"), languageFlag}});

    ProbeWindow &window = createWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const Captions &expected = captions(language);

    QCOMPARE(window.windowTitle(), expected.title);
    const QString maker = control<QLabel>(window, QStringLiteral("pnKAVOR"))->text();
    QVERIFY2(maker.startsWith(expected.makerPrefix) && maker.size() > expected.makerPrefix.size(), qPrintable(maker));
    const struct {
        const char *name;
        QString text;
    } shown[] = {{"pnMsg", expected.msg},           {"pnSerial", expected.serial},
                 {"pnVersion", expected.version},   {"pnCustomer", expected.customer},
                 {"lblBaudRate", expected.baudRateLabel}, {"btnScan", expected.scan},
                 {"btnBaudRate", expected.baudRate}, {"btnExit", expected.exit},
                 {"btnClear", expected.clear},      {"btnEng", QStringLiteral("English")},
                 {"btnGB", QString()},              {"btnBIG5", QString()}};
    for (const auto &item : shown)
        QCOMPARE(captionOf(control<QWidget>(window, QLatin1String(item.name))), item.text);

    // Every character is drawn from a font that has it: Chinese comes out as characters, never boxes.
    for (const char *name : {"pnKAVOR", "pnMsg", "pnSerial", "pnVersion", "pnCustomer", "lblBaudRate", "btnScan",
                             "btnBaudRate", "btnExit", "btnClear"}) {
        QWidget *widget = control<QWidget>(window, QLatin1String(name));
        QString families;
        QVERIFY2(drawnWithoutBoxes(captionOf(widget), widget->font(), &families),
                 qPrintable(QLatin1String(name) + QStringLiteral(": ") + families));
    }
    // The texts fit their controls in the font they are drawn with.
    for (const char *name : {"pnMsg", "pnSerial", "pnVersion", "pnCustomer", "lblBaudRate", "pnKAVOR"}) {
        auto *label = control<QLabel>(window, QLatin1String(name));
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(), name);
    }
}

void TestModuleWindow::languageButtons_data()
{
    QTest::addColumn<QString>("startFlag");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("language");

    QTest::newRow("btnGB from English") << QStringLiteral("English") << QStringLiteral("btnGB") << 1;
    QTest::newRow("btnBIG5 from ChineseGB") << QStringLiteral("ChineseGB") << QStringLiteral("btnBIG5") << 2;
    QTest::newRow("btnEng from ChineseBIG5") << QStringLiteral("ChineseBIG5") << QStringLiteral("btnEng") << 0;
    QTest::newRow("btnEng from nothing stored") << QString() << QStringLiteral("btnEng") << 0;
}

void TestModuleWindow::languageButtons()
{
    QFETCH(QString, startFlag);
    QFETCH(QString, button);
    QFETCH(int, language);
    if (!startFlag.isEmpty())
        storeSettings({{QStringLiteral("LanguageFlag"), startFlag}});

    SimProcess sim({QStringLiteral("--com"), QStringLiteral("1")});
    QVERIFY2(sim.start(), qPrintable(sim.errorOutput()));
    ProbeWindow &window = createWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // A complete scan: the module found, its panels filled, the indicator yellow.
    control<QPushButton>(window, QStringLiteral("btnScan"))->click();
    QVERIFY(m_fixture->tool.session.moduleInHand().found);
    QCOMPARE(control<CircleShape>(window, QStringLiteral("shComm"))->brushColor(), kYellow);
    QFile::remove(m_fixture->sandbox.settingsFile()); // where the scan stored the module is not looked at here

    control<QPushButton>(window, button)->click();

    QCOMPARE(m_fixture->tool.session.settings().languageIndex(), language);
    QCOMPARE(m_fixture->tool.session.settings().languageName(), kLanguageNames.at(language));
    // Stored at once: the file holds the new name, and nothing else was written.
    QCOMPARE(storedValue(m_fixture->sandbox.settingsFile(), QStringLiteral("LanguageFlag")).toString(),
             kLanguageNames.at(language));
    QSettings stored(m_fixture->sandbox.settingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.allKeys(), QStringList{QStringLiteral("LanguageFlag")});

    const Captions &expected = captions(language);
    QCOMPARE(window.windowTitle(), expected.title);
    QCOMPARE(control<QLabel>(window, QStringLiteral("pnMsg"))->text(), expected.msg);
    QCOMPARE(control<QLabel>(window, QStringLiteral("pnSerial"))->text(), expected.serial);
    QCOMPARE(control<QLabel>(window, QStringLiteral("pnVersion"))->text(), expected.version);
    QCOMPARE(control<QLabel>(window, QStringLiteral("pnCustomer"))->text(), expected.customer);
    QCOMPARE(control<QPushButton>(window, QStringLiteral("btnScan"))->text(), expected.scan);
    QVERIFY(control<QLabel>(window, QStringLiteral("pnKAVOR"))->text().startsWith(expected.makerPrefix));
    // A later baud-rate change or clearing is still allowed; the indicator keeps its colour.
    QVERIFY(m_fixture->tool.session.moduleInHand().found);
    QCOMPARE(control<CircleShape>(window, QStringLiteral("shComm"))->brushColor(), kYellow);

    // A new start reads the language back.
    m_fixture->tool.window.reset();
    ProbeWindow &again = createWindow();
    again.show();
    QCOMPARE(again.windowTitle(), expected.title);
}

void TestModuleWindow::busyBlink()
{
    ProbeWindow &window = createWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *tmrBusy = window.findChild<QTimer *>(QStringLiteral("tmrBusy"));
    auto *shComm = control<CircleShape>(window, QStringLiteral("shComm"));
    QVERIFY(tmrBusy && shComm);

    QList<QColor> ticks;
    QList<qint64> times;
    QElapsedTimer clock;
    clock.start();
    // Connected after the window's own handler, so the colour is read after each blink step.
    connect(tmrBusy, &QTimer::timeout, this, [&] {
        ticks.append(shComm->brushColor());
        times.append(clock.elapsed());
    });

    const qint64 busyFrom = clock.elapsed();
    window.setBusy(true);
    QVERIFY(tmrBusy->isActive());
    QVERIFY(!window.isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 5, 5000);
    window.setBusy(false);
    QVERIFY(window.isEnabled());
    QVERIFY(!tmrBusy->isActive());

    // Red first (the phase starts at 0), then yellow, and so on.
    const int count = ticks.size();
    for (int i = 0; i < count; ++i)
        QCOMPARE(ticks.at(i), i % 2 == 0 ? kRed : kYellow);
    // Measured from the start of busy mode: a late first step, as on a loaded machine, would make the
    // steps after it (back on their schedule) look closer together than the timer runs.
    const double gap = double(times.last() - busyFrom) / count;
    QVERIFY2(gap >= 180.0, qPrintable(QStringLiteral("%1 ms between blink steps").arg(gap)));

    // Busy mode over: the indicator stays as it is.
    const QColor last = shComm->brushColor();
    QTest::qWait(500);
    QCOMPARE(ticks.size(), count);
    QCOMPARE(shComm->brushColor(), last);

    // The phase is kept: the next busy period goes on from where this one stopped.
    QCOMPARE(window.busyPhase(), count % 2);
    window.setBusy(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() > count, 2000);
    window.setBusy(false);
    QCOMPARE(ticks.at(count), count % 2 == 0 ? kRed : kYellow);
}

void TestModuleWindow::closeWhileIdle()
{
    // No operation runs: the window manager's request closes the window, as Exit does.
    ProbeWindow &window = createWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(windowManagerClose(window));
    QVERIFY(!window.isVisible());

    ProbeWindow &second = createWindow();
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    control<QPushButton>(second, QStringLiteral("btnExit"))->click();
    QVERIFY(!second.isVisible());
}

void TestModuleWindow::enterPressesDefaultButton_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("pressed");

    QTest::newRow("Return in the list") << QStringLiteral("cmbBaudRate") << int(Qt::Key_Return)
                                        << QStringLiteral("btnScan");
    QTest::newRow("keypad Enter on the lock box") << QStringLiteral("chkLock") << int(Qt::Key_Enter)
                                                  << QStringLiteral("btnScan");
    QTest::newRow("Return on btnScan") << QStringLiteral("btnScan") << int(Qt::Key_Return) << QStringLiteral("btnScan");
    // As on the platform's dialogs, a button that has the focus takes Enter itself.
    QTest::newRow("Return on another button") << QStringLiteral("btnGB") << int(Qt::Key_Return)
                                              << QStringLiteral("btnGB");
}

void TestModuleWindow::enterPressesDefaultButton()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(QString, pressed);

    ProbeWindow &window = createWindow();
    showActive(window);
    QWidget *target = control<QWidget>(window, focus);
    target->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), target);

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const QString &name : kButtons)
        spies.push_back(std::make_unique<QSignalSpy>(control<QPushButton>(window, name), &QPushButton::clicked));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

    for (int i = 0; i < kButtons.size(); ++i)
        QCOMPARE(spies.at(size_t(i))->count(), kButtons.at(i) == pressed ? 1 : 0);
    if (pressed == QLatin1String("btnScan")) {
        // The scan ran to its end: every port leads nowhere here.
        QCOMPARE(control<QLabel>(window, QStringLiteral("pnMsg"))->text(), QStringLiteral("Module Not Find"));
        QVERIFY(window.isEnabled());
    }
}

void TestModuleWindow::inputWhileDisabled_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("window disabled") << false;
    QTest::newRow("busy mode") << true;
}

void TestModuleWindow::inputWhileDisabled()
{
    QFETCH(bool, busy);
    ProbeWindow &window = createWindow();
    showActive(window);
    auto *chkLock = control<QCheckBox>(window, QStringLiteral("chkLock"));
    auto *btnGB = control<QPushButton>(window, QStringLiteral("btnGB"));
    QSignalSpy scans(control<QPushButton>(window, QStringLiteral("btnScan")), &QPushButton::clicked);
    chkLock->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), chkLock);

    if (busy)
        window.setBusy(true);
    else
        window.setWindowEnabled(false);
    QVERIFY(!window.isEnabled());

    // A click on a language button, Space and Tab for the lock box, Enter for the default button: all
    // still waiting when the window takes input again.
    queueClick(window, btnGB);
    queueKey(window, Qt::Key_Space, QStringLiteral(" "));
    queueKey(window, Qt::Key_Tab);
    queueKey(window, Qt::Key_Return, QStringLiteral("\r"));

    if (busy)
        window.setBusy(false);
    else
        window.setWindowEnabled(true);
    QVERIFY(window.isEnabled());
    QCOMPARE(window.focusWidget(), chkLock);
    QCOMPARE(QApplication::focusWidget(), chkLock);

    QTest::qWait(100);
    QCOMPARE(m_fixture->tool.session.settings().languageIndex(), 0);
    QVERIFY(!QFile::exists(m_fixture->sandbox.settingsFile()));
    QVERIFY(chkLock->isChecked());
    QCOMPARE(scans.count(), 0);
    QCOMPARE(QApplication::focusWidget(), chkLock);

    // The same input reaches the window once it takes input.
    queueKey(window, Qt::Key_Space, QStringLiteral(" "));
    QTRY_VERIFY(!chkLock->isChecked());
    queueClick(window, btnGB);
    QTRY_COMPARE(m_fixture->tool.session.settings().languageIndex(), 1);
}

void TestModuleWindow::operationsAgainstTheModule()
{
    SimProcess sim({QStringLiteral("--com"), QStringLiteral("1")});
    QVERIFY2(sim.start(), qPrintable(sim.errorOutput()));

    ProbeWindow &window = createWindow();
    showActive(window);
    auto *chkLock = control<QCheckBox>(window, QStringLiteral("chkLock"));
    auto *btnGB = control<QPushButton>(window, QStringLiteral("btnGB"));
    auto *pnMsg = control<QLabel>(window, QStringLiteral("pnMsg"));
    chkLock->setFocus(Qt::TabFocusReason);

    // The scan: a close request when it first lets events through is refused, and the scan goes on.
    bool closeTried = false;
    bool runningThen = false;
    bool closedThen = true;
    QTimer::singleShot(0, &window, [&] {
        closeTried = true;
        runningThen = window.operationRunning();
        closedThen = window.close();
    });
    control<QPushButton>(window, QStringLiteral("btnScan"))->click();
    QVERIFY(closeTried);
    QVERIFY(runningThen);
    QVERIFY(!closedThen);
    QVERIFY(window.isVisible());
    QCOMPARE(pnMsg->text(), QStringLiteral("Get Module Info Ok. (COM : #1)"));
    QVERIFY(m_fixture->tool.session.moduleInHand().found);
    QVERIFY(!window.operationRunning());
    QCOMPARE(QApplication::focusWidget(), chkLock);

    // The clearing beeps while the window is still disabled; what comes in then is dropped.
    struct {
        bool called = false;
        bool enabled = true;
        bool running = false;
        bool closed = true;
        bool managerClosed = true;
    } atBeep;
    window.onBeep = [&] {
        atBeep.called = true;
        atBeep.enabled = window.isEnabled();
        atBeep.running = window.operationRunning();
        atBeep.closed = window.close();
        atBeep.managerClosed = windowManagerClose(window);
        queueClick(window, btnGB);
        queueKey(window, Qt::Key_Space, QStringLiteral(" "));
        queueKey(window, Qt::Key_Tab);
    };
    control<QPushButton>(window, QStringLiteral("btnClear"))->click();
    window.onBeep = nullptr;

    QVERIFY(atBeep.called);
    QVERIFY(!atBeep.enabled);
    QVERIFY(atBeep.running);
    QVERIFY(!atBeep.closed);
    QVERIFY(!atBeep.managerClosed);
    QCOMPARE(pnMsg->text(), QStringLiteral("Clear Customer Register Ok"));
    QVERIFY(window.isVisible());
    QVERIFY(window.isEnabled());
    QCOMPARE(QApplication::focusWidget(), chkLock);

    QTest::qWait(100);
    QCOMPARE(m_fixture->tool.session.settings().languageIndex(), 0);
    QVERIFY(!storedValue(m_fixture->sandbox.settingsFile(), QStringLiteral("LanguageFlag")).isValid());
    QVERIFY(chkLock->isChecked());
    QCOMPARE(QApplication::focusWidget(), chkLock);

    // With nothing running, the window closes on request.
    QVERIFY(windowManagerClose(window));
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestModuleWindow)
#include "tst_module_window.moc"
