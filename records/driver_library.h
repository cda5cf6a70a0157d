#pragma once

// Functions of the client libraries Qt's SQL drivers have loaded (the program links none of them), one file
// per platform: libpq's and the ODBC driver manager's. nullptr when the library or the function is not there.
void *libpqFunction(const char *name);
void *odbcFunction(const char *name);
