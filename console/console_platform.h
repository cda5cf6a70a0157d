#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>

// What the console program needs of the platform: stop requests (Ctrl-C) and terminals.

class StopToken;

// Ctrl-C and termination requests (on Windows also closing the console, logoff and shutdown) only request
// the stop token from here on; the program ends at its next safe point. Installed before anything else runs.
void installStopHandlers(StopToken &token);

// Called by main right before the program returns, its module finished and its final output written. A
// console's close, logoff or shutdown (Windows) waits in its handler for this, since Windows ends the process
// as soon as that handler returns; the waiting handler then lets the process end (main's return ends it with
// the program's exit status; failing that, Windows does when the handler gives up).
void markFinished();

bool standardErrorIsTerminal();

// Text for standard output or standard error, flushed at once. A Windows console takes it as characters (its
// code page may be any); a pipe, a file or a Unix terminal gets UTF-8.
void writeText(std::FILE *stream, const QString &text);

// The arguments' bytes as the system gave them (Unix), so that a file name that is no valid text keeps its
// bytes; empty where the system hands over text (Windows).
QList<QByteArray> rawArguments(int argc, char **argv);

// A short word for devices the port list cannot describe otherwise ("pseudo-terminal"); empty if none.
QString deviceKindFromPath(const QString &devicePath);
