#include "startup.h"

#include <windows.h>

namespace {

bool usable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void printForCommandLine(const QString &text)
{
    // Output redirected to a pipe or a file comes as a handle; otherwise a program of the window subsystem
    // has no console, and borrows the one of the program that started it (a command prompt), if any.
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    bool ownHandle = false;
    // Already attached (wine hands its programs the console they were started from): that one.
    if (!usable(out) && (::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED)) {
        out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        ownHandle = true;
    }
    if (!usable(out))
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        // The console's code page may be any: it takes characters.
        ::WriteConsoleW(out, text.utf16(), DWORD(text.size()), &written, nullptr);
    } else {
        const QByteArray bytes = text.toUtf8();
        ::WriteFile(out, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    }
    if (ownHandle)
        ::CloseHandle(out);
}
