#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What the console program needs of the platform: stop requests (Ctrl-C) and terminals.

// Ctrl-C and termination requests only set a flag from here on; the program ends at its next safe point.
void installStopHandlers();
bool stopRequested();

bool standardErrorIsTerminal();

// The arguments' bytes as the system gave them (Unix), so that a file name that is no valid text keeps its
// bytes; empty where the system hands over text (Windows).
QList<QByteArray> rawArguments(int argc, char **argv);

// A short word for devices the port list cannot describe otherwise ("pseudo-terminal"); empty if none.
QString deviceKindFromPath(const QString &devicePath);
