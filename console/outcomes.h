#pragma once

#include "exit_status.h"
#include "operation_results.h"

#include <QString>

// What became of a run or of a module, in one vocabulary for every command's final JSON object, watch's
// records and its summary, the CSV file and the exit status.
enum class Outcome {
    Ok,
    AlreadySet,
    NotFound,
    BadCheck,
    NoPort,
    InformationError,
    ClearRefused,
    SetBaudRefused,
    SetBaudUnconfirmed,
    ClearUnconfirmed,
    NotCleared,
    ModuleChanged,
    WrongModule,
    PortsUnsearched,
    SeenBefore,
    HistoryUnknown,
    DbBadUrl,
    DbRefused,
    DbReadOnly,
    DbUnreachable,
    Interrupted,
    TimedOut,
    BadUsage,
    Failure,
};

// One row of the table: the key scripts read, the exit status a run ending so gives, what it means.
struct OutcomeInfo {
    Outcome outcome;
    const char *key;
    ExitStatus exitStatus;
    const char *meaning;
};

// Every outcome, in the order --help lists them.
const QList<OutcomeInfo> &outcomeTable();
const OutcomeInfo &outcomeInfo(Outcome outcome);

inline QString outcomeKey(Outcome outcome) { return QString::fromLatin1(outcomeInfo(outcome).key); }
inline int exitStatusOf(Outcome outcome) { return outcomeInfo(outcome).exitStatus; }
inline bool isSuccess(Outcome outcome) { return outcomeInfo(outcome).exitStatus == kExitSuccess; }
// What the outcome means, in the table's words: said for a module where the window's text would say otherwise.
inline QString outcomeMeaning(Outcome outcome) { return QString::fromLatin1(outcomeInfo(outcome).meaning); }

// The change as the console program looks at it: the session's result, then what was looked at after it.
struct ChangeReport {
    Outcome outcome = Outcome::Failure;
    QString message;                              // the status panel's text at the end of the change
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    bool acknowledgedLate = false;                // the module changed, but its acknowledgement never came
    std::optional<bool> confirmed;                // set-baud: it answered at the new line settings
    Place place;                                  // where the module is left
    QByteArray answeredSerialNumber;              // module-changed: who answered instead
    std::optional<QByteArray> customerRegister;   // clear: as read back
};

// A scan's outcome: found (read completely or not), stopped, or why nothing was found (only noise came,
// no port opened at all, or silence).
Outcome scanOutcome(const ScanResult &scan);
// The ports a scan could not search: a device there that would not open for it (busy, permission denied,
// failing); a number without a device is no port to search.
QList<const ScanPortEntry *> unsearchedPorts(const ScanReport &report);
// A change that did not go through: refused, unconfirmed (the port or the module), or stopped before it.
Outcome changeOutcome(ChangeOutcome outcome, Outcome refused);
