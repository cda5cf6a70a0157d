#pragma once

#include "cli_options.h"

class ConsoleOutput;

// modulebench-cli ports: each port number, its device, what it is and whether it can be opened now.
int runPorts(const CliOptions &options, ConsoleOutput &output);
