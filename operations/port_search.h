#pragma once

#include "port_probe.h"
#include "scan_report.h"

#include <QByteArray>

#include <optional>

// Where a search found the module.
struct SearchPlace {
    int portNumber = 0;
    int lineSettingsIndex = -1;
    QByteArray serialNumber;
    bool serialCut = false; // by a zero byte in the reply
};

// Which line settings one port's search tries, in which order, and what it shows on the way: the serial
// search follows the window's lock box and list, each thread of the parallel search a list made before
// it started.
class LineSettingsWalk {
public:
    virtual ~LineSettingsWalk() = default;
    // The line-settings index tried first, and the one after `index` was tried without an answer;
    // -1 when the port is done.
    virtual int first() = 0;
    virtual int next(int index) = 0;
    // Right before the port is opened at `index`.
    virtual void trying(int index) { (void)index; }
    // The port is open.
    virtual void opened(int portNumber) { (void)portNumber; }
    // The module answered; the port is still open.
    virtual void answered(const SearchPlace &place) { (void)place; }
};

// How one port's search ended.
struct PortSearched {
    bool visited = false; // at least one line setting was taken up (the port has a report entry)
    bool halted = false;  // the probe might not go on before a line setting
    std::optional<SearchPlace> place;
};

// One port's search, the same for both searches: at each line setting the walk gives, open the port,
// ask the serial number up to kSearchAttempts times, close. Ends at the first answer, at an open that
// fails (the next line setting would not open either) or when the probe may not go on; everything is
// noted in entry.
PortSearched searchPort(PortProbe &probe, int portNumber, ScanPortEntry &entry, LineSettingsWalk &walk);
