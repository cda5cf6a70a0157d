#include "module_window.h"
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
        QVERIFY(tool.session.settings().moduleFound);

        // Stored at once, in the 32-bit view.
        QCOMPARE(storedDword(L"ScanCommNo"), DWORD(kModulePort));
        QCOMPARE(storedDword(L"ScanBaudRateNo"), DWORD(5));
        QCOMPARE(storedString(L"ScanBaudRate"), QStringLiteral("19200,e,8,1"));
        // Left for run-wine-scan to read with wine's own reg tool.
        m_sandbox->keepWhatWasWritten();
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
