#include "settings_sandbox.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <string>

#include <windows.h>

// The two programs as a user starts them from a command prompt: in a console of this test's own, whose
// screen is read back afterwards, beside the same programs writing into a pipe.
//
// Not here: closing the console while the console program changes a module. Windows calls the program's
// handler with CTRL_CLOSE_EVENT and ends the process when the handler returns (or after about 5 s); the
// handler waits until main says the module is finished (markFinished). Wine 8.0 never calls a handler for a
// closed console: a program that posts WM_CLOSE to its own console window under wine is ended at once, its
// handler not called (tried with a handler that writes a file first thing). So that path can only be tried
// on Windows; the README says so. Logging off, which reaches the program as WM_ENDSESSION, is tried by
// run-session-end.
namespace {

// A Linux path of the build as wine's drive Z: shows it.
std::wstring windowsPath(const char *path)
{
    return L"Z:" + QString::fromUtf8(path).replace(QLatin1Char('/'), QLatin1Char('\\')).toStdWString();
}

HANDLE consoleHandle(const wchar_t *name)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                         OPEN_EXISTING, 0, nullptr);
}

// Runs the program and waits for it, with output as its standard output and error. Without output it gets no
// standard handles at all: what Windows gives a program of the window subsystem started from a command prompt
// (wine would hand it the prompt's own).
bool run(const std::wstring &program, const std::wstring &arguments, HANDLE output)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                          nullptr, &startup, &process))
        return false;
    const bool ended = ::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return ended;
}

// Everything in the program's standard output and error, written into a pipe.
QString runIntoPipe(const std::wstring &program, const std::wstring &arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 20))
        return {};
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const bool ran = run(program, arguments, writeEnd);
    ::CloseHandle(writeEnd);
    QByteArray bytes;
    char buffer[4096];
    DWORD count = 0;
    while (ran && ::ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0)
        bytes.append(buffer, int(count));
    ::CloseHandle(readEnd);
    return QString::fromUtf8(bytes);
}

// The console's screen as text, blanks left out: a line longer than the width goes on in the next row, and
// rows are read one after the other.
QString screenText()
{
    HANDLE screen = consoleHandle(L"CONOUT$");
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(screen, &info);
    const DWORD cells = DWORD(info.dwSize.X) * DWORD(info.dwSize.Y);
    std::wstring text(cells, L' ');
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen, text.data(), cells, COORD{0, 0}, &read);
    ::CloseHandle(screen);
    return QString::fromStdWString(text.substr(0, read)).remove(QLatin1Char(' '));
}

void clearScreen()
{
    HANDLE screen = consoleHandle(L"CONOUT$");
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(screen, &info);
    DWORD written = 0;
    ::FillConsoleOutputCharacterW(screen, L' ', DWORD(info.dwSize.X) * DWORD(info.dwSize.Y), COORD{0, 0}, &written);
    ::SetConsoleCursorPosition(screen, COORD{0, 0});
    ::CloseHandle(screen);
}

} // namespace

class TestWineConsole : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Qt Test's own log keeps going where it went (standard error, to CTest): the console is only the
        // programs'.
        const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        ::FreeConsole();
        QVERIFY(::AllocConsole());
        m_console = consoleHandle(L"CONOUT$");
        QVERIFY(m_console != INVALID_HANDLE_VALUE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, output);
        ::SetStdHandle(STD_ERROR_HANDLE, error);
        ::SetStdHandle(STD_INPUT_HANDLE, input);
    }
    void cleanupTestCase()
    {
        ::CloseHandle(m_console);
        ::FreeConsole();
    }
    void init()
    {
        m_sandbox = std::make_unique<SettingsSandbox>();
        QVERIFY(m_sandbox->isValid());
        clearScreen();
    }
    void cleanup() { m_sandbox.reset(); }

    // The runner hands the tests' QT_ variables across (wine passes none of this environment's own).
    void qtVariablesArrive()
    {
        QCOMPARE(qEnvironmentVariable("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        const QFileInfo fonts(qEnvironmentVariable("QT_QPA_FONTDIR"));
        QVERIFY2(fonts.isDir(), qPrintable(fonts.filePath()));
        QVERIFY(!QDir(fonts.filePath()).entryList({QStringLiteral("*.tt?")}, QDir::Files).isEmpty());
    }

    // The console program in Chinese: the same lines on the console's screen as in a pipe (as UTF-8).
    void consoleProgramShowsChineseInTheConsole()
    {
        HKEY key = nullptr;
        QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KAVOR\\ModuleBench", 0, nullptr, 0,
                                   KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                 LSTATUS(ERROR_SUCCESS));
        const wchar_t language[] = L"ChineseGB";
        ::RegSetValueExW(key, L"LanguageFlag", 0, REG_SZ, reinterpret_cast<const BYTE *>(language), sizeof language);
        ::RegCloseKey(key);

        const std::wstring cli = windowsPath(MB_CLI_PATH);
        const QString piped = runIntoPipe(cli, L"scan --language");
        QStringList expected;
        for (const QString &line : piped.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("modulebench-cli: ")))
                expected << QString(line).remove(QLatin1Char(' ')).remove(QLatin1Char('\r'));
        }
        // No port answers here: the scan says what each port did, in the stored language.
        QVERIFY2(std::any_of(piped.cbegin(), piped.cend(), [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; }),
                 qPrintable(piped));
        // Each port by its name alone: on Windows the device is the port's name.
        QVERIFY2(piped.contains(QLatin1String("  COM1: ")), qPrintable(piped));
        QVERIFY2(!piped.contains(QRegularExpression(QStringLiteral("COM(\\d+) \\(COM\\1\\)"))), qPrintable(piped));

        QVERIFY(run(cli, L"scan --language", m_console));
        const QString screen = screenText();
        QVERIFY(!expected.isEmpty());
        for (const QString &line : expected)
            QVERIFY2(screen.contains(line), qPrintable(QStringLiteral("%1\nnot on the screen:\n%2").arg(line, screen)));
    }

    // The console program's help in Windows' words: COM7, the console's close; no device path, no signal.
    void consoleProgramsHelpSpeaksOfWindows()
    {
        const QString help = runIntoPipe(windowsPath(MB_CLI_PATH), L"--help");
        QVERIFY2(help.contains(QLatin1String("Usage: modulebench-cli")), qPrintable(help));
        QVERIFY2(help.contains(QLatin1String("-p COM7 ")) && help.contains(QLatin1String("such as COM7")), qPrintable(help));
        QVERIFY2(help.contains(QLatin1String("Ctrl-C, closing the console, logging off or shutting down")),
                 qPrintable(help));
        QVERIFY2(!help.contains(QLatin1String("/dev/")), qPrintable(help));
        QVERIFY2(!help.contains(QLatin1String("SIGTERM")), qPrintable(help));
    }

    // The window program, started from a command prompt with --help or --version, prints into that console.
    void windowProgramPrintsIntoTheConsoleItWasStartedFrom()
    {
        const std::wstring window = windowsPath(MB_WINDOW_PATH);
        const bool helped = run(window, L"--help", nullptr);
        const QString help = screenText();
        clearScreen();
        const bool versioned = run(window, L"--version", nullptr);
        const QString version = screenText();

        QVERIFY(helped);
        QVERIFY2(help.contains(QLatin1String("Usage:modulebench[OPTION]")), qPrintable(help));
        QVERIFY2(help.contains(QLatin1String("Theconsoleprogramismodulebench-cli")), qPrintable(help));
        QVERIFY(versioned);
        QVERIFY2(version.contains(QLatin1String("modulebench" MB_VERSION)), qPrintable(version));
        // Into a pipe it goes as it is.
        QVERIFY(runIntoPipe(window, L"--version").startsWith(QLatin1String("modulebench " MB_VERSION)));
    }

private:
    HANDLE m_console = INVALID_HANDLE_VALUE;
    std::unique_ptr<SettingsSandbox> m_sandbox;
};

QTEST_MAIN(TestWineConsole)
#include "tst_wine_console.moc"
