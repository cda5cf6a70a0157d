#pragma once

#include <QVariant>

#include <cstring>

// Functions of the client libraries Qt's SQL drivers have loaded (the program links none of them), one file
// per platform: libpq's and the ODBC driver manager's. nullptr when the library or the function is not there.
void *libpqFunction(const char *name);
void *odbcFunction(const char *name);

// libpq's PGconn in a Qt driver's handle (Qt names it by its struct's name); nullptr for any other handle.
inline void *libpqConnection(const QVariant &handle)
{
    if (!handle.isValid()
        || (std::strcmp(handle.typeName(), "pg_conn*") != 0 && std::strcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<void *const *>(handle.constData());
}
