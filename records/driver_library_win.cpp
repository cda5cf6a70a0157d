#include "driver_library.h"

#include <windows.h>

void *libpqFunction(const char *name)
{
    const HMODULE library = ::GetModuleHandleW(L"libpq.dll");
    return library ? reinterpret_cast<void *>(::GetProcAddress(library, name)) : nullptr;
}

void *odbcFunction(const char *name)
{
    static const HMODULE library = ::LoadLibraryW(L"odbc32.dll");
    return library ? reinterpret_cast<void *>(::GetProcAddress(library, name)) : nullptr;
}
