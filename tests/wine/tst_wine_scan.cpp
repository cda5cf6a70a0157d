#include "module_window.h"
#include "scan_report.h"
#include "window_fixture.h"
#include "settings_sandbox.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <windows.h>

// Run by run-wine-scan, which maps wine's COM3 to a virtual module on a pseudo-terminal, COM4 to one
// that never answers, and every other COM number to nothing.
namespace {

constexpr int kModulePort = 3;
constexpr int kSilentPort = 4;
constexpr int kTimeoutSamples = 20;

const wchar_t kSubKey[] = L"Software\\KAVOR\\ModuleBench";
// A standard user's own copy of the machine key, where Windows put what the 32-bit program saved for them.
const wchar_t kUserCopySubKey[] = L"Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KAVOR\\ModuleBench";

using Tool = WindowTool<>;

DWORD storedDword(const wchar_t *name)
{
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof value;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, kSubKey, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr, &value,
                   &size);
    return value;
}

QString storedString(const wchar_t *name)
{
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSubKey, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, text, &size)
        != ERROR_SUCCESS)
        return QStringLiteral("<none>");
    return QString::fromWCharArray(text);
}

// Notes when the request's end byte is handed to the port: the reply wait starts there.
class StampingPort final : public SerialDevice {
public:
    explicit StampingPort(SerialDevice &port) : m_port(port) { m_clock.start(); }
    bool open(int portNumber, const QByteArray &lineSettings) override { return m_port.open(portNumber, lineSettings); }
    void close() override { m_port.close(); }
    void writeByte(char value) override
    {
        if (value == FrameLayer::kEndByte)
            m_endByteNs = m_clock.nsecsElapsed();
        m_port.writeByte(value);
    }
    void writeBlock(const char *bytes, int count) override { m_port.writeBlock(bytes, count); }
    bool readByte(char &value) override { return m_port.readByte(value); }
    void discardInput() override { m_port.discardInput(); }

    double msSinceEndByte() const { return double(m_clock.nsecsElapsed() - m_endByteNs) / 1e6; }

private:
    SerialDevice &m_port;
    QElapsedTimer m_clock;
    qint64 m_endByteNs = 0;
};

// The port a 32-bit build saved for a standard user, with the line settings of the virtual module.
void writeUserCopyPort(DWORD port)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_CURRENT_USER, kUserCopySubKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                               &key, nullptr),
             LSTATUS(ERROR_SUCCESS));
    const DWORD index = 5;
    const wchar_t lineSettings[] = L"19200,e,8,1";
    ::RegSetValueExW(key, L"ScanCommNo", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&port), sizeof port);
    ::RegSetValueExW(key, L"ScanBaudRateNo", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&index), sizeof index);
    ::RegSetValueExW(key, L"ScanBaudRate", 0, REG_SZ, reinterpret_cast<const BYTE *>(lineSettings), sizeof lineSettings);
    ::RegCloseKey(key);
}

// A scan through the window: the module found on COM3, and the ports tried, one line each.
QStringList scanReport()
{
    Tool tool;
    tool.create().show();
    QTest::qWait(20);
    tool.window->btnScanClick();
    const auto *pnMsg = tool.window->findChild<QLabel *>(QStringLiteral("pnMsg"));
    if (pnMsg->text() != QStringLiteral("Get Module Info Ok. (COM : #3)"))
        return {pnMsg->text()};
    return pnMsg->toolTip().split(QLatin1Char('\n'));
}

} // namespace

class TestWineScan : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<SettingsSandbox>();
        QVERIFY(m_sandbox->isValid());
    }
    void cleanup() { m_sandbox.reset(); }

    // First run: no stored port, so the scan searches from COM1 (mapped to nothing) and finds COM3.
    void scanFindsTheModuleThroughWinesComMapping()
    {
        Tool tool;
        tool.create().show();
        QTest::qWait(20);
        QElapsedTimer elapsed;
        elapsed.start();
        tool.window->btnScanClick();
        std::printf("scan: %lld ms\n", elapsed.elapsed());

        const auto text = [&](const char *name) { return tool.window->findChild<QLabel *>(QLatin1String(name))->text(); };
        QCOMPARE(text("pnMsg"), QStringLiteral("Get Module Info Ok. (COM : #3)"));
        QCOMPARE(text("pnSerial"), QStringLiteral("S/N : WINE0001"));
        QCOMPARE(text("pnVersion"), QStringLiteral("VER : 03.20-01"));
        QCOMPARE(text("pnCustomer"), QStringLiteral("Customer : ") + QString(30, QLatin1Char('W')));
        QVERIFY(tool.session.moduleInHand().found);
        // Wine opens an unmapped COM number as a device of unknown type: no such port. The port by its name alone,
        // which is its device's.
        const QStringList report = tool.window->findChild<QLabel *>(QStringLiteral("pnMsg"))->toolTip().split(QLatin1Char('\n'));
        QCOMPARE(report.first(), QStringLiteral("COM1: ") + reportText(ReportText::NoSuchPort, 0));

        // Stored at once, in the 32-bit view.
        QCOMPARE(storedDword(L"ScanCommNo"), DWORD(kModulePort));
        QCOMPARE(storedDword(L"ScanBaudRateNo"), DWORD(5));
        QCOMPARE(storedString(L"ScanBaudRate"), QStringLiteral("19200,e,8,1"));
        // Left for run-wine-scan to read with wine's own reg tool.
        m_sandbox->keepWhatWasWritten();
    }

    // What a 32-bit build saved for a standard user lies in their own copy of the key: for that user the quick
    // attempt takes the port from there, and finds the module at once.
    void quickAttemptTakesThePortFromTheUsersCopy()
    {
        writeUserCopyPort(kModulePort);
        qputenv("MB_REGISTRY_AS_STANDARD_USER", "1");
        const QStringList report = scanReport();
        qunsetenv("MB_REGISTRY_AS_STANDARD_USER");
        // The quick attempt's one port, no search from COM1.
        QVERIFY2(report.size() == 1 && report.first().startsWith(QLatin1String("COM3: ")), qPrintable(report.join('\n')));
    }

    // An old copy of a standard user's (the silent COM4) and a machine key this process may write, where an
    // administrator's run stored COM3: the quick attempt tries COM3, and only COM3.
    void staleUsersCopyDoesNotHideTheMachineKeysPort()
    {
        writeUserCopyPort(kSilentPort);
        HKEY key = nullptr;
        QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                                   &key, nullptr),
                 LSTATUS(ERROR_SUCCESS));
        const DWORD port = kModulePort;
        ::RegSetValueExW(key, L"ScanCommNo", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&port), sizeof port);
        ::RegCloseKey(key);

        const QStringList report = scanReport();
        QVERIFY2(report.size() == 1 && report.first().startsWith(QLatin1String("COM3: ")), qPrintable(report.join('\n')));
    }

    // The figure beside the Linux one: from the end byte handed to the port to the command's return.
    void unansweredCommandEndsAfterItsTimeOut()
    {
        StampingPort *stampingPort = nullptr;
        ModuleSession::Parts parts;
        parts.frontPort = [&stampingPort](ModulePort &port) {
            auto front = std::make_unique<StampingPort>(port);
            stampingPort = front.get();
            return std::unique_ptr<SerialDevice>(std::move(front));
        };
        ModuleSession session(parts);
        StampingPort &stamping = *stampingPort;
        ModuleCommands &commands = session.commands();
        QVERIFY(stamping.open(kSilentPort, "19200,e,8,1"));
        std::vector<double> waits;
        for (int i = 0; i < kTimeoutSamples; ++i) {
            const bool ok = commands.readFirmwareVersion().ok;
            waits.push_back(stamping.msSinceEndByte());
            QVERIFY(!ok);
        }
        stamping.close();
        std::sort(waits.begin(), waits.end());
        std::printf("unanswered command under wine, %d commands: time-out from the end byte to return: "
                    "min %.2f ms, median %.2f ms, max %.2f ms\n",
                    kTimeoutSamples, waits.front(), waits[waits.size() / 2], waits.back());
        // The wait ends with its time-out, never on a device's whim (the figure itself is printed, not judged).
        QVERIFY2(waits.back() < 1000.0, qPrintable(QString::number(waits.back())));
    }

private:
    std::unique_ptr<SettingsSandbox> m_sandbox;
};

QTEST_MAIN(TestWineScan)
#include "tst_wine_scan.moc"
