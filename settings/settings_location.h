#pragma once

#include "settings_ini.h"

#include <QLoggingCategory>
#include <QVariantMap>

#include <vector>

// The values of each place they are read from, most important first: a value missing in one is taken from the
// next (the user's store, then presets an administrator put in place). A place that is missing, damaged or
// unreadable gives nothing.
std::vector<QVariantMap> readStoredValues();

// Writes the values, in their order, into the user's store and keeps the others there. False when the store
// could not be written: the values in memory serve on. A store held locked by another copy for longer than
// the wait, and (once a run) a store whose folder or file belongs to another user, root's runs included, are
// reported (modulebench.settings, warning); an otherwise unwritable store is silent. The new file is on the
// disk before it replaces the store, and the folder's entry after.
bool writeStoredValues(const StoredValues &values);

Q_DECLARE_LOGGING_CATEGORY(lcSettings)

// A settings file larger than this is damaged: the four values take about 100 bytes, and nothing larger is read.
constexpr qint64 kMaxSettingsFileSize = 64 * 1024;
