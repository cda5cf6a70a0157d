#pragma once

#include "cli_options.h"

class ConsoleOutput;
class StopToken;

// Runs one command of the console program; returns its exit status. Every run ends with one final JSON
// object (with --json) naming the command and the exit status.
int runCommand(const CliOptions &options, ConsoleOutput &output, StopToken &stop);

struct ToolSetup;
// How the run uses the tool, from its options.
ToolSetup toolSetup(const CliOptions &options);
