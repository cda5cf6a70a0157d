#include "port_guard.h"

#include <windows.h>
#include <timeapi.h>

struct PortGuard::Private {
    DCB foundState{};
    COMMTIMEOUTS foundTimeouts{};
    bool haveFound = false;
    bool timerRaised = false;
};

namespace {

PortError errorFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortError::NotFound;
    case ERROR_ACCESS_DENIED: // what Windows answers for a port another program holds
    case ERROR_SHARING_VIOLATION:
        return PortError::Busy;
    default:
        return PortError::Other;
    }
}

} // namespace

PortGuard::PortGuard() : d(std::make_unique<Private>()) {}

PortGuard::~PortGuard()
{
    release();
}

PortError PortGuard::acquire(const QString &devicePath)
{
    release();
    // Windows opens a port exclusively; this short open only reads the state QSerialPort would overwrite.
    const QString name = QStringLiteral("\\\\.\\") + devicePath;
    HANDLE handle = ::CreateFileW(reinterpret_cast<LPCWSTR>(name.utf16()), GENERIC_READ | GENERIC_WRITE,
                                  0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return errorFromWin32(::GetLastError());
    d->foundState.DCBlength = sizeof(DCB);
    d->haveFound = ::GetCommState(handle, &d->foundState) && ::GetCommTimeouts(handle, &d->foundTimeouts);
    ::CloseHandle(handle);
    // Without this every 1 ms wait lasts a whole 15.6 ms tick.
    ::timeBeginPeriod(1);
    d->timerRaised = true;
    return PortError::None;
}

void PortGuard::opened(qintptr handle, bool keepLineSettings)
{
    if (!keepLineSettings || !d->haveFound)
        return;
    HANDLE port = reinterpret_cast<HANDLE>(handle);
    DCB now{};
    now.DCBlength = sizeof(DCB);
    if (!::GetCommState(port, &now))
        return;
    now.BaudRate = d->foundState.BaudRate;
    now.ByteSize = d->foundState.ByteSize;
    now.Parity = d->foundState.Parity;
    now.fParity = d->foundState.fParity;
    now.StopBits = d->foundState.StopBits;
    now.fOutxCtsFlow = d->foundState.fOutxCtsFlow;
    now.fRtsControl = d->foundState.fRtsControl;
    now.fOutX = d->foundState.fOutX;
    now.fInX = d->foundState.fInX;
    ::SetCommState(port, &now);
}

void PortGuard::restore(qintptr handle)
{
    if (!d->haveFound)
        return;
    HANDLE port = reinterpret_cast<HANDLE>(handle);
    ::SetCommState(port, &d->foundState);
    ::SetCommTimeouts(port, &d->foundTimeouts);
}

void PortGuard::release()
{
    if (d->timerRaised)
        ::timeEndPeriod(1);
    d->timerRaised = false;
    d->haveFound = false;
}
