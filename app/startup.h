#pragma once

#include <QIcon>
#include <QString>

// The application title: the tool's name to the desktop, the sound system and the start-up error display.
QString applicationTitle();

// The desktop's id of the tool: its desktop entry, its metadata, its icon and its window's class.
QString desktopId();

// The icon at the desktop's sizes.
QIcon applicationIcon();

// What the command line asks of the window program. Read before the application object exists, so that
// --help and --version need no display; every other argument is left to Qt.
enum class StartRequest { Window, Help, Version };
StartRequest readCommandLine(int argc, const char *const argv[]);
QString helpText();
QString versionText();
// Prints the text for whoever started the program. On Windows the window program has no console of its own:
// the text goes to the console it was started from (or where its output was redirected to).
void printForCommandLine(const QString &text);

// Run once after the application object exists, before the window is created.
void setUpApplication();
