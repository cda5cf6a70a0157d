#pragma once

#include "outcomes.h"
#include "record_keeper.h"

#include <QJsonObject>

#include <optional>

class ConsoleOutput;
struct CliOptions;

// What became of a database that could not be used.
Outcome outcomeOf(DatabaseProblem problem);

// --db for a run that records modules: opens the database (and the station's file in front of a server)
// before any port is touched. The outcome that ends the run when it cannot be used, said in one line (also
// in message).
std::optional<Outcome> openRecords(const CliOptions &options, ConsoleOutput &output, RecordKeeper &keeper,
                                   QString &message);

// Keeps a module's record, and names it in the module's JSON object (record_id); when it cannot be kept, says
// so (then: what the run does about it, as "; stopping") and returns false.
bool keepModuleRecord(RecordKeeper &keeper, const ModuleRecord &record, ConsoleOutput &output, QJsonObject &object,
                      const QString &then = {});

// The end of a run with records: what still waits for the server is tried once more (not when the run was
// stopped: then the sending ends at once), said when some still wait, and counted in the run's final object.
void finishRecords(RecordKeeper &keeper, ConsoleOutput &output, QJsonObject &finalObject, bool stopped = false);
