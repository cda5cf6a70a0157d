// The console program's texts with each platform's words: built twice, once with the Unix words and once with
// the Windows ones (console/platform_words_win.cpp linked in place of the Unix file), so both are checked on
// Linux. Also the port lines, which show the device only where it is more than the port's name.
#include "cli_options.h"
#include "outcomes.h"
#include "scan_report.h"
#include "traced_port.h"

#include <QtTest>

namespace {

constexpr bool kWindowsWords = MB_WINDOWS_WORDS;

PortStatus missing(int portNumber, const QString &device)
{
    PortStatus status;
    status.portNumber = portNumber;
    status.devicePath = device;
    status.problem = PortProblem::NoSuchPort;
    return status;
}

} // namespace

class TestHelpWords : public QObject {
    Q_OBJECT

private slots:
    void helpSpeaksOfThePlatformsPortsAndStops()
    {
        const QString help = helpText();
        const QString interrupted = QString::fromLatin1(outcomeInfo(Outcome::Interrupted).meaning);
        if (kWindowsWords) {
            QVERIFY2(!help.contains(QLatin1String("/dev/")), qPrintable(help));
            QVERIFY2(!help.contains(QLatin1String("SIG")), qPrintable(help));
            QVERIFY2(!help.contains(QLatin1String("link")), qPrintable(help));
            QVERIFY2(help.contains(QLatin1String("-p COM7 --line-settings")), qPrintable(help));
            QVERIFY2(help.contains(QLatin1String("COMn such as COM7")), qPrintable(help));
            QVERIFY2(interrupted.startsWith(QLatin1String("Ctrl-C, closing the console, logging off or shutting down "
                                                          "ended the run")),
                     qPrintable(interrupted));
        } else {
            QVERIFY2(help.contains(QLatin1String("-p /dev/ttyUSB0 --line-settings")), qPrintable(help));
            QVERIFY2(help.contains(QLatin1String("a device path such as\n                             /dev/ttyUSB0)")),
                     qPrintable(help));
            QVERIFY2(help.contains(QLatin1String("(and any other number with a link)")), qPrintable(help));
            QVERIFY2(interrupted.startsWith(QLatin1String("Ctrl-C or SIGTERM ended the run")), qPrintable(interrupted));
        }
        // The outcome's line in the table as the help lists it.
        QVERIFY2(help.contains(QStringLiteral("\n  interrupted           130  ") + interrupted + QLatin1Char('\n')),
                 qPrintable(help));
        // The entries the platform words go into keep to the lists' columns: text from column 29, lines up to 100.
        bool inEntry = false;
        int checked = 0;
        for (const QString &line : help.split(QLatin1Char('\n'))) {
            const bool first = line.startsWith(QLatin1String("  ports ")) || line.startsWith(QLatin1String("  -p, --port N"));
            inEntry = first || (inEntry && line.startsWith(QString(29, QLatin1Char(' '))));
            if (!inEntry)
                continue;
            ++checked;
            QVERIFY2(line.size() <= 100 && line.at(28) == QLatin1Char(' ') && line.at(29) != QLatin1Char(' '),
                     qPrintable(line));
        }
        QVERIFY2(checked >= 4, qPrintable(help));
    }

    void aDeviceIsShownOnlyWhereItIsMoreThanThePortsName()
    {
        ScanPortEntry entry;
        entry.status = missing(3, QStringLiteral("COM3"));
        QCOMPARE(scanReportLine(entry, 0), QStringLiteral("COM3: no such port"));
        QCOMPARE(openProgressLine(entry.status, "19200,e,8,1", false, true, 0),
                 QStringLiteral("trying COM3 at 19200,e,8,1: no such port"));
        entry.status = missing(3, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(scanReportLine(entry, 0), QStringLiteral("COM3 (/dev/ttyUSB0): no such port"));
        QCOMPARE(openProgressLine(entry.status, "19200,e,8,1", false, true, 0),
                 QStringLiteral("trying COM3 at 19200,e,8,1 (/dev/ttyUSB0): no such port"));
        entry.status = missing(16, QString());
        QCOMPARE(scanReportLine(entry, 0), QStringLiteral("COM16 (no device): no such port"));
        QCOMPARE(scanReportLine(entry, 2), QString::fromUtf8("COM16 (無裝置): 沒有此連接埠"));
        QCOMPARE(openProgressLine(entry.status, "19200,e,8,1", false, false, 0),
                 QStringLiteral("opening COM16 at 19200,e,8,1 (no device): no such port"));
    }
};

QTEST_GUILESS_MAIN(TestHelpWords)
#include "tst_help_words.moc"
