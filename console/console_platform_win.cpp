#include "console_platform.h"

#include "stop_token.h"

#include <atomic>

#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace {

std::atomic<StopToken *> g_token{nullptr};
// Set by markFinished(); manual-reset, so every waiting handler sees it.
HANDLE g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Windows ends the process as soon as a close, logoff or shutdown notice has been handled, and at the latest
// some 5 s after it (its default time-outs). The handler holds it that long at most, less a margin.
constexpr DWORD kCloseWaitMs = 4500;

// Returning from a close, logoff or shutdown notice lets Windows end the process there and then, in the middle
// of a change: first the module in progress is finished and the output written. Once main has said so, its own
// return ends the process (with the program's exit status) while this thread waits out the rest of the time.
void stopAndHoldUntilFinished()
{
    if (StopToken *token = g_token.load())
        token->request();
    const ULONGLONG started = ::GetTickCount64();
    if (::WaitForSingleObject(g_finished, kCloseWaitMs) == WAIT_OBJECT_0) {
        const ULONGLONG waited = ::GetTickCount64() - started;
        if (waited < kCloseWaitMs)
            ::Sleep(DWORD(kCloseWaitMs - waited));
    }
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (StopToken *token = g_token.load())
            token->request();
        // Handled: the program ends at its next safe point.
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stopAndHoldUntilFinished();
        return TRUE;
    default:
        return FALSE;
    }
}

// Windows reports logging off and shutting down to the console handler only in a program that loads no
// user32.dll; Qt loads it, and such a program hears of it the way a windowed one does, by WM_ENDSESSION to its
// top-level windows. A hidden one, on a thread of its own, turns that into the same stop.
LRESULT CALLBACK onSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return TRUE;
    if (message == WM_ENDSESSION) {
        if (wParam)
            stopAndHoldUntilFinished();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI sessionWindowThread(void *)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = onSessionMessage;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ModuleBenchSessionEnd";
    if (!::RegisterClassW(&windowClass))
        return 0;
    // Top-level, since a message-only window gets no broadcast; never shown. Without a desktop (a service) there
    // is none, and nothing to hear.
    if (!::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           windowClass.hInstance, nullptr))
        return 0;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&message);
    return 0;
}

} // namespace

void installStopHandlers(StopToken &token)
{
    g_token = &token;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (HANDLE thread = ::CreateThread(nullptr, 0, sessionWindowThread, nullptr, 0, nullptr))
        ::CloseHandle(thread);
}

QList<QByteArray> rawArguments(int, char **)
{
    return {};
}

void markFinished()
{
    ::SetEvent(g_finished);
}

bool standardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

void writeText(std::FILE *stream, const QString &text)
{
    std::fflush(stream);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(handle, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString deviceKindFromPath(const QString &)
{
    return {};
}
