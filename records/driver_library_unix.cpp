#include "driver_library.h"

#include <dlfcn.h>

void *libpqFunction(const char *name)
{
    // Only the copy Qt's PostgreSQL driver has loaded already.
    static void *const library = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
    return library ? ::dlsym(library, name) : nullptr;
}

void *odbcFunction(const char *name)
{
    // unixODBC's driver manager, as Qt's ODBC driver links it.
    static void *const library = ::dlopen("libodbc.so.2", RTLD_NOW);
    return library ? ::dlsym(library, name) : nullptr;
}
