#pragma once

#include "scan_report.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// The scan's search over several ports at the same time. Each port gets exactly what the serial search
// gives it (its line settings in the same order, two serial-number requests at each, no pauses, the
// frame layer's time-outs), from its own thread with its own port, frames and commands: a port object
// lives and is used in the thread that made it. A quick attempt at the stored port, when asked for,
// comes first and alone, as in the serial scan.
struct ParallelSearchPlan {
    QList<int> ports;               // searched at the same time; the report follows this order
    QList<int> lineSettingsIndexes; // tried at every port in this order (with the lock box: the stored index only)
    int quickPort = 0;              // 0: no quick attempt
    QByteArray quickLineSettings;   // the stored string itself, as the serial scan opens it
    // Without it the first module that answers wins and every other port stops before its next
    // request; with it every port is searched to its end and each module found is read.
    bool everyModule = false;
    // Read by every port's thread before each open and each serial-number request; may be empty.
    std::function<bool()> stopRequested;
    // Each open attempt, called from the port's own thread (several at once); may be empty.
    std::function<void(const PortStatus &status, const QByteArray &lineSettings, bool opened)> onOpen;
};

struct FoundModule {
    int portNumber = 0;
    QString devicePath;
    QByteArray lineSettings;
    int lineSettingsIndex = -1; // the table index it answered at; for the quick attempt, the caller's stored index
    bool byQuickAttempt = false;
    QByteArray serialNumber;
    // The information read, as the scan's: version, then the customer register once.
    bool informationPortOpened = false;
    bool versionRead = false;
    QByteArray version;
    bool complete = false; // the customer register was read too
    QByteArray customerRegister;
};

struct ParallelSearchResult {
    QList<FoundModule> modules; // in the order of the port list; without everyModule at most one
    ScanReport report;          // the quick attempt's entry first, then one entry per port of the list
    bool stopped = false;       // a stop request halted at least one port before its turn had ended
};

// Runs the search and returns when every port's thread has ended. onFound runs on the caller's thread
// for each module as soon as it has answered its serial-number request, while its own thread goes on
// to read its version and customer register (the serial scan stores the place at that moment).
ParallelSearchResult runParallelSearch(const ParallelSearchPlan &plan,
                                       const std::function<void(const FoundModule &)> &onFound);
