#include "contrast.h"
#include "module_window.h"
#include "panel.h"
#include "window_colours.h"
#include "window_fixture.h"
#include "settings_sandbox.h"
#include "window_platform.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGlyphRun>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QTextLayout>
#include <QToolTip>
#include <QtTest>

#include <memory>
#include <string>

#include <windows.h>

namespace {

const wchar_t kSubKey[] = L"Software\\KAVOR\\ModuleBench";

// The parts the tool itself runs the window with.
struct Tool : WindowTool<> {
    TfrmModule &start()
    {
        TfrmModule &shown = create();
        shown.show();
        return shown;
    }
};

void writeString(const wchar_t *name, const std::wstring &text)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                               &key, nullptr),
             LSTATUS(ERROR_SUCCESS));
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                     DWORD((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

void writeDword(const wchar_t *name, DWORD value)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                               &key, nullptr),
             LSTATUS(ERROR_SUCCESS));
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    ::RegCloseKey(key);
}

QString readString(const wchar_t *name, REGSAM view)
{
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return QStringLiteral("<no key>");
    const LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return QStringLiteral("<no string>");
    return QString::fromWCharArray(buffer);
}

QStringList menuCommands(HMENU menu)
{
    QStringList ids;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
        ids << QString::number(::GetMenuItemID(menu, i), 16);
    return ids;
}

// Glyph 0 is the font's missing-character box.
bool drawnWithoutBoxes(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        for (quint32 index : run.glyphIndexes()) {
            if (index == 0)
                return false;
            ++glyphs;
        }
    }
    return glyphs > 0;
}

// Under wine without a display the window is never exposed nor visible to the system; its native
// window exists all the same, with its menu, styles and texts.
bool shown(QWidget &window)
{
    QTest::qWait(20);
    return window.isVisible() && ::IsWindow(reinterpret_cast<HWND>(window.winId()));
}

} // namespace

// The window on the Windows platform itself: its system menu, its registry key and its beep.
class TestWindowWindows : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<SettingsSandbox>();
        QVERIFY(m_sandbox->isValid());
    }
    void cleanup()
    {
        m_tool.reset();
        m_sandbox.reset();
    }

    // Close goes from the menu, so the title bar's close box is greyed; minimise stays, maximise never was.
    // The window is left through btnExit alone.
    void closeCommandLeavesTheSystemMenu()
    {
        QWidget reference(nullptr, fixedWindowFlags());
        reference.show();
        QVERIFY(shown(reference));
        const HMENU standard = ::GetSystemMenu(reinterpret_cast<HWND>(reference.winId()), FALSE);
        QVERIFY(standard);
        QVERIFY(::GetMenuState(standard, SC_CLOSE, MF_BYCOMMAND) != UINT(-1));

        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        const HWND handle = reinterpret_cast<HWND>(window.winId());
        const HMENU menu = ::GetSystemMenu(handle, FALSE);
        QVERIFY(menu);
        QCOMPARE(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), UINT(-1));
        QVERIFY(::GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND) != UINT(-1));
        // Only Close has gone (under wine the menu ends with its own "About Wine", after Close).
        QStringList expected = menuCommands(standard);
        QVERIFY(expected.removeOne(QString::number(SC_CLOSE, 16)));
        QCOMPARE(menuCommands(menu), expected);

        const LONG_PTR style = ::GetWindowLongPtrW(handle, GWL_STYLE);
        QVERIFY(style & WS_SYSMENU);
        QVERIFY(style & WS_MINIMIZEBOX);
        QVERIFY(!(style & WS_MAXIMIZEBOX));
        QVERIFY(!(style & WS_THICKFRAME));
        RECT client{};
        QVERIFY(::GetClientRect(handle, &client));
        QCOMPARE(int(client.right - client.left), TfrmModule::kClientWidth);
        QCOMPARE(int(client.bottom - client.top), TfrmModule::kClientHeight);
    }

    void startsFromThe32BitKey()
    {
        writeString(L"LanguageFlag", L"ChineseBIG5");
        writeDword(L"ScanBaudRateNo", 8);
        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("cmbBaudRate"))->currentIndex(), 8);
        // The BIG5 bytes of the table, decoded by this build's own codec.
        QCOMPARE(window.windowTitle(), QStringLiteral("KAVOR MARDEN-F 模組設定程式 V3.20-01"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("btnExit"))->text(), QStringLiteral("結束"));
        wchar_t title[128] = {};
        ::GetWindowTextW(reinterpret_cast<HWND>(window.winId()), title, 127);
        QCOMPARE(QString::fromWCharArray(title), QStringLiteral("KAVOR MARDEN-F 模組設定程式 V3.20-01"));
    }

    void languageButtonWritesThe32BitKey()
    {
        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        window.findChild<QPushButton *>(QStringLiteral("btnGB"))->click();
        QCOMPARE(readString(L"LanguageFlag", KEY_WOW64_32KEY), QStringLiteral("ChineseGB"));
        QCOMPARE(readString(L"LanguageFlag", KEY_WOW64_64KEY), QStringLiteral("<no key>"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("btnScan"))->text(), QStringLiteral("扫描模组"));
    }

    // Refused before any scan: red, message 2 and the low beep, which takes its 300 ms.
    void refusalBeepTakesItsTime()
    {
        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        QElapsedTimer elapsed;
        elapsed.start();
        window.btnClearClick();
        const qint64 took = elapsed.elapsed();
        QVERIFY2(took >= 290 && took < 3000, qPrintable(QString::number(took)));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("pnMsg"))->text(), QStringLiteral("Start Scan Module!"));
    }

    void captionsHaveTheirGlyphs()
    {
        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        const QFont font = window.findChild<QLabel *>(QStringLiteral("pnMsg"))->font();
        QVERIFY(drawnWithoutBoxes(QStringLiteral("Start Scan Module!"), font));
        QVERIFY(drawnWithoutBoxes(QStringLiteral("请先扫描模组!"), font));
        QVERIFY(drawnWithoutBoxes(QStringLiteral("請先掃描模組!"), font));
    }

    // The scan report's tooltip as the platform's style draws it, on the system's tooltip colours (wine's own
    // are grey on white): its text stands out by 4.5 : 1 from the background it is drawn on.
    void toolTipReadsOnTheSystemsColours()
    {
        m_tool = std::make_unique<Tool>();
        TfrmModule &window = m_tool->start();
        QVERIFY(shown(window));
        auto *pnMsg = window.findChild<Panel *>(QStringLiteral("pnMsg"));
        const QString report = QStringLiteral("COM1: no such port\nCOM2: no such port");
        pnMsg->setToolTip(report);
        const QPoint at = pnMsg->rect().center();
        QHelpEvent help(QEvent::ToolTip, at, pnMsg->mapToGlobal(at));
        QApplication::sendEvent(pnMsg, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), report);
        QWidget *tip = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QTipLabel") && widget->isVisible())
                tip = widget;
        }
        QVERIFY(tip);
        const QImage image = tip->grab().toImage();
        QToolTip::hideText();
        // Inside the border: the commonest colour is the background, the pixel that stands out most the text.
        const QRect inside = image.rect().adjusted(2, 2, -3, -3);
        QHash<QRgb, int> counts;
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x)
                ++counts[image.pixel(x, y)];
        }
        QRgb background = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() > counts.value(background))
                background = it.key();
        }
        QColor text;
        double ratio = 0.0;
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x) {
                const double r = contrastRatio(QColor::fromRgb(image.pixel(x, y)), QColor::fromRgb(background));
                if (r > ratio) {
                    ratio = r;
                    text = QColor::fromRgb(image.pixel(x, y));
                }
            }
        }
        const QString said = QStringLiteral("text %1 on %2 = %3 : 1 (the system's tooltip: %4 on %5)")
                                 .arg(text.name(), QColor::fromRgb(background).name())
                                 .arg(ratio, 0, 'f', 2)
                                 .arg(colourFromBgr(::GetSysColor(COLOR_INFOTEXT)).name(),
                                      colourFromBgr(::GetSysColor(COLOR_INFOBK)).name());
        qInfo("%s", qPrintable(said));
        QVERIFY2(ratio >= kReadableTextRatio, qPrintable(said));
    }

private:
    std::unique_ptr<SettingsSandbox> m_sandbox;
    std::unique_ptr<Tool> m_tool;
};

QTEST_MAIN(TestWindowWindows)
#include "tst_window_windows.moc"
