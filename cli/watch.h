#pragma once

#include "cli_options.h"

class ConsoleOutput;
class StopToken;

// modulebench-cli watch: the production line, one fixture per --port (or one over COM1 to COM16).
int runWatch(const CliOptions &options, ConsoleOutput &output, StopToken &stop);
