#pragma once

#include <QSettings>

#include <memory>
#include <vector>

// The place the values are written to; writes there may fail, silently.
std::unique_ptr<QSettings> openSettingsForWriting();

// The places the values are read from, most important first: a value missing in one
// is taken from the next (the user's file, then presets an administrator put in place).
std::vector<std::unique_ptr<QSettings>> openSettingsForReading();
