#include "driver_library.h"

#include <dlfcn.h>

#include <atomic>

void *libpqFunction(const char *name)
{
    // Only the copy Qt's PostgreSQL driver has loaded already: looked for until it has.
    static std::atomic<void *> library{nullptr};
    if (!library)
        library = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
    return library ? ::dlsym(library, name) : nullptr;
}

void *odbcFunction(const char *name)
{
    // unixODBC's driver manager, as Qt's ODBC driver links it.
    static void *const library = ::dlopen("libodbc.so.2", RTLD_NOW);
    return library ? ::dlsym(library, name) : nullptr;
}
