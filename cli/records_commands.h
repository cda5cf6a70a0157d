#pragma once

#include "cli_options.h"

class ConsoleOutput;

// modulebench-cli history SERIAL --db URL: every record of the module, oldest first.
int runHistory(const CliOptions &options, ConsoleOutput &output);
// modulebench-cli records summary --db URL [--since TIME]: the records counted by station and outcome.
int runRecordsSummary(const CliOptions &options, ConsoleOutput &output);
// modulebench-cli records sync --db URL: sends what waits in this station's file for the server.
int runRecordsSync(const CliOptions &options, ConsoleOutput &output);
