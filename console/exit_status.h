#pragma once

// What the console program's exit status tells a script; listed in --help and the README.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,          // another failure: the CSV file could not be opened or written...
    kExitUsage = 2,            // bad usage: unknown option, wrong line settings...; no port touched
    kExitNotFound = 3,         // no module answered
    kExitInformationError = 4, // a module answered, but its version or customer register could not be read
    kExitRefused = 5,          // the baud-rate change or the clearing was not accepted
    kExitNoPort = 6,           // no port could be opened at all (no device, permission denied, busy...)
    kExitNotConfirmed = 7,     // the change went out, but whether it took could not be seen
    kExitModuleChanged = 8,    // another module than the one read answered before the change; nothing sent
    kExitWrongModule = 9,      // --serial: another module was found; nothing sent
    kExitNotCleared = 10,      // the customer register still holds something after the clearing
    kExitPortsUnsearched = 11, // scan --all: a port could not be searched
    kExitDbBadUrl = 12,        // --db: the address is not understood, or its driver is not installed
    kExitDbRefused = 13,       // --db: the database would not let the program in (credentials...)
    kExitDbReadOnly = 14,      // --db: the database may be read but not written
    kExitSeenBefore = 15,      // watch --once-per-module: the module was set up before; not changed
    kExitDbUnreachable = 16,   // --db: the server could not be reached (history, records)
    kExitTimedOut = 124,       // --timeout ran out
    kExitInterrupted = 130,    // Ctrl-C or SIGTERM ended a scan, set-baud or clear (watch ends with 0)
};
