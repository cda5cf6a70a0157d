#pragma once

#include <QString>

// What the console program needs of the platform: stop requests (Ctrl-C) and terminals.

// Ctrl-C and termination requests only set a flag from here on; the program ends at its next safe point.
void installStopHandlers();
bool stopRequested();

bool standardErrorIsTerminal();

// A short word for devices the port list cannot describe otherwise ("pseudo-terminal"); empty if none.
QString deviceKindFromPath(const QString &devicePath);
