#include "port_guard.h"

#include "sim_link.h"

#include <windows.h>
#include <timeapi.h>

struct PortGuard::Private {
    DCB foundState{};
    COMMTIMEOUTS foundTimeouts{};
    bool haveFound = false;
    bool timerRaised = false;
};

namespace {

PortProblem problemFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return PortProblem::NoSuchPort;
    // A COM port opened by another program answers "access denied": Windows opens ports exclusively,
    // and plain users may open every COM port, so this is the port being held, not a permission.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return PortProblem::Busy;
    case ERROR_PRIVILEGE_NOT_HELD:
        return PortProblem::PermissionDenied;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return PortProblem::NotATerminal;
    default: // ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ERROR_NOT_READY, ERROR_OPERATION_ABORTED, ...
        return PortProblem::HungUpOrIoError;
    }
}

} // namespace

PortGuard::PortGuard() : d(std::make_unique<Private>()) {}

PortGuard::~PortGuard()
{
    release();
}

bool PortGuard::acquire(int, PortStatus &status)
{
    release();
    status.problem = PortProblem::None;
    // Windows opens a port exclusively; this short open only reads the state QSerialPort would overwrite.
    const QString name = QStringLiteral("\\\\.\\") + status.devicePath;
    HANDLE handle = ::CreateFileW(reinterpret_cast<LPCWSTR>(name.utf16()), GENERIC_READ | GENERIC_WRITE,
                                  0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        status.problem = problemFromWin32(error);
        status.systemError = int(error);
        return false;
    }
    // A COM number that stands for no device at all still opens where the system keeps the name without a
    // device behind it (wine does, for an unmapped number): a handle of unknown type is no such port.
    const DWORD fileType = ::GetFileType(handle);
    if (fileType == FILE_TYPE_UNKNOWN) {
        status.systemError = int(::GetLastError());
        status.problem = PortProblem::NoSuchPort;
        ::CloseHandle(handle);
        return false;
    }
    // A name in the device namespace may be some other kind of device; a COM port answers GetCommState.
    d->foundState.DCBlength = sizeof(DCB);
    if (fileType != FILE_TYPE_CHAR || !::GetCommState(handle, &d->foundState)) {
        status.systemError = int(::GetLastError());
        status.problem = PortProblem::NotATerminal;
        ::CloseHandle(handle);
        return false;
    }
    d->haveFound = ::GetCommTimeouts(handle, &d->foundTimeouts) != 0;
    ::CloseHandle(handle);
    // Without this every 1 ms wait lasts a whole 15.6 ms tick.
    ::timeBeginPeriod(1);
    d->timerRaised = true;
    return true;
}

bool PortGuard::carriesParity() const
{
    return true;
}

// The virtual module runs on pseudo-terminals only; no link of its own exists here.
bool simLinkOwnerRunning(qint64)
{
    return false;
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
