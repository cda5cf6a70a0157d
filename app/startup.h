#pragma once

#include <QString>

// The application title: the tool's name to the desktop, the sound system and the start-up error display.
QString applicationTitle();

// Run once after the application object exists, before the window is created.
void setUpApplication();
