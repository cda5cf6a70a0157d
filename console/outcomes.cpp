#include "outcomes.h"

#include "platform_words.h"

#include <QByteArray>

const QList<OutcomeInfo> &outcomeTable()
{
    // What stops a run is the platform's to say: SIGTERM on Unix, the console's close on Windows.
    static const QByteArray interrupted = QByteArray(platformWords().stopRequests)
        + " ended the run before it had a result or before the module was changed";
    static const QList<OutcomeInfo> table{
        {Outcome::Ok, "ok", kExitSuccess, "read completely (and cleared or moved when asked)"},
        {Outcome::AlreadySet, "already-set", kExitSuccess,
         "watch --set-baud: the module was at the wanted line settings already; not moved"},
        {Outcome::NotFound, "not-found", kExitNotFound, "no module answered"},
        {Outcome::BadCheck, "bad-check", kExitNotFound,
         "nothing readable came, but a port answered with a bad check (noise on the line?)"},
        {Outcome::InformationError, "information-error", kExitInformationError,
         "the module answered, but its version or customer register could not be read"},
        {Outcome::ClearRefused, "clear-refused", kExitRefused, "the module did not accept the clearing"},
        {Outcome::SetBaudRefused, "set-baud-refused", kExitRefused, "the module did not accept the baud-rate change"},
        {Outcome::NoPort, "no-port", kExitNoPort,
         "no port could be opened at all (no device, permission denied, busy...)"},
        {Outcome::SetBaudUnconfirmed, "set-baud-unconfirmed", kExitNotConfirmed,
         "the module accepted the baud-rate change but did not answer at the new line settings"},
        {Outcome::ClearUnconfirmed, "clear-unconfirmed", kExitNotConfirmed,
         "the customer register could not be read back after the clearing: whether it was cleared is not known"},
        {Outcome::NotCleared, "not-cleared", kExitNotCleared,
         "the module acknowledged the clearing, but its customer register still holds something"},
        {Outcome::ModuleChanged, "module-changed", kExitModuleChanged,
         "another module answered before the change than the one the scan read: nothing was sent to change it"},
        {Outcome::WrongModule, "wrong-module", kExitWrongModule,
         "--serial: the module found is another one; nothing was sent to change it"},
        {Outcome::PortsUnsearched, "ports-unsearched", kExitPortsUnsearched,
         "scan --all: a port could not be searched (busy, permission denied...); a module there was missed"},
        {Outcome::SeenBefore, "seen-before", kExitSeenBefore,
         "watch --once-per-module: the module was recorded ok before; read, not changed"},
        {Outcome::HistoryUnknown, "history-unknown", kExitSeenBefore,
         "watch --once-per-module=strict: the server could not be asked whether the module was set up before; "
         "read, not changed"},
        {Outcome::DbBadUrl, "db-bad-url", kExitDbBadUrl,
         "--db: the address is not understood, or Qt's driver for it is not installed; no port touched"},
        {Outcome::DbRefused, "db-refused", kExitDbRefused,
         "--db: the database turned the program away (credentials, no such database, not a records file)"},
        {Outcome::DbReadOnly, "db-read-only", kExitDbReadOnly,
         "--db: the database may be read but not written; no port touched"},
        {Outcome::DbUnreachable, "db-unreachable", kExitDbUnreachable,
         "history, records: the server could not be reached (watch and the others go on, records wait)"},
        {Outcome::Interrupted, "interrupted", kExitInterrupted, interrupted.constData()},
        {Outcome::TimedOut, "timed-out", kExitTimedOut,
         "--timeout: the run's time was up before it had a result or before the module was changed"},
        {Outcome::BadUsage, "bad-usage", kExitUsage, "the command line was refused; nothing was sent"},
        {Outcome::Failure, "failure", kExitFailure, "anything else (the CSV file could not be opened or written...)"},
    };
    return table;
}

const OutcomeInfo &outcomeInfo(Outcome outcome)
{
    for (const OutcomeInfo &info : outcomeTable()) {
        if (info.outcome == outcome)
            return info;
    }
    return outcomeTable().last();
}

Outcome scanOutcome(const ScanResult &scan)
{
    switch (scan.outcome) {
    case ScanResult::Outcome::Complete:
        // A value a zero byte cut short was not read completely.
        return scan.cutAtZeroByte.any() ? Outcome::InformationError : Outcome::Ok;
    case ScanResult::Outcome::InformationError:
        return Outcome::InformationError;
    case ScanResult::Outcome::Stopped:
        return Outcome::Interrupted;
    case ScanResult::Outcome::NotFound:
        break;
    }
    bool anyOpened = false;
    bool noise = false;
    for (const ScanPortEntry &entry : scan.report) {
        anyOpened = anyOpened || entry.opened();
        noise = noise || entry.badChecks > 0;
    }
    // Nothing readable came, but something did answer: noise on the line, not an empty bench.
    if (noise)
        return Outcome::BadCheck;
    return anyOpened ? Outcome::NotFound : Outcome::NoPort;
}

QList<const ScanPortEntry *> unsearchedPorts(const ScanReport &report)
{
    QList<const ScanPortEntry *> ports;
    for (const ScanPortEntry &entry : report) {
        switch (entry.status.problem) {
        case PortProblem::PermissionDenied:
        case PortProblem::Busy:
        case PortProblem::HungUpOrIoError:
            if (!entry.opened())
                ports << &entry;
            break;
        default:
            break;
        }
    }
    return ports;
}

Outcome changeOutcome(ChangeOutcome outcome, Outcome refused)
{
    switch (outcome) {
    case ChangeOutcome::Accepted:
        return Outcome::Ok;
    case ChangeOutcome::Stopped:
        return Outcome::Interrupted;
    case ChangeOutcome::ModuleChanged:
        return Outcome::ModuleChanged;
    case ChangeOutcome::NoScan:
    case ChangeOutcome::NoLineSettingsSelected:
    case ChangeOutcome::PortNotOpened:
    case ChangeOutcome::ModuleNotConfirmed:
    case ChangeOutcome::Refused:
        break;
    }
    return refused;
}
