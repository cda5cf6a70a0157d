#pragma once

#include "console_output.h"
#include "operation_results.h"
#include "outcomes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

// How the console program says what happened, in text: a value read is shown as read (empty too), a value
// not read as "not read". A module's own fields are in module_report.h.

// What a change did in words, after the status panel's text.
// stores: a module that answers at its new line settings is stored there.
QStringList changeLines(const ChangeReport &change, bool baudRate, const QString &target, const QString &place,
                        bool stores);
// A value as the text shows it: read as it came, control characters (C0, DEL, C1) written as \xHH so that
// nothing a module sends can move the cursor, change colours or ring; "not read" when not read.
// printable() is the console output's (console_output.h).
QString shownValue(const std::optional<QByteArray> &value);
// What the scan did at each port it came to, for a script.
QJsonArray portRecords(const ScanReport &report, int language);
// A scan that found nothing says on standard error what happened at each port, in the scan report's words.
void sayWhatEachPortDid(const ScanResult &scan, Outcome outcome, int language, ConsoleOutput &output,
                        const QString &prefix = {});
