#include "console_platform.h"

#include "stop_token.h"

#include <atomic>

#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace {

std::atomic<StopToken *> g_token{nullptr};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (StopToken *token = g_token.load())
            token->request();
        // Handled: the program ends at its next safe point (a close event gives it a few seconds).
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void installStopHandlers(StopToken &token)
{
    g_token = &token;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

QList<QByteArray> rawArguments(int, char **)
{
    return {};
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
