#pragma once

#include "cli_options.h"

class ConsoleOutput;

// Runs one command of the console program; returns its exit status.
int runCommand(const CliOptions &options, ConsoleOutput &output);
