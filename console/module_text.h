#pragma once

#include "console_tool.h"
#include "outcomes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

// How the console program shows a scan's result: the same fields in the text, the JSON objects and the
// records. A value read is shown as read (empty too); a value not read is null in JSON and "not read" in text.

// port, device, line_settings, serial_number, version, customer_register and, when a step failed on a
// reply that was not silence, failed_reply.
void insertModuleFields(QJsonObject &record, const ScanResult &module);
// What a change did: line_settings (where the module is left), confirmed, acknowledged_late, failed_reply,
// answered_serial_number (module-changed) and, after a clearing, customer_register_read_back.
void insertChangeFields(QJsonObject &record, const ChangeReport &change, bool baudRate);
// The same in words, after the status panel's text.
// stores: a module that answers at its new line settings is stored there.
QStringList changeLines(const ChangeReport &change, bool baudRate, const QString &target, const QString &place,
                        bool stores);
// The window's panels after the scan: serial number, version, customer register, then the line settings.
QStringList moduleLines(const ConsoleTool &tool, const ScanResult &module);
// A value as the text shows it: read as it came, control characters (C0, DEL, C1) written as \xHH so that
// nothing a module sends can move the cursor, change colours or ring; "not read" when not read.
QString shownValue(const std::optional<QByteArray> &value);
QString printable(const QByteArray &value);
// The same for a text that came from elsewhere (a database): control and format characters (a bidi override)
// as \xHH; the rest as it is.
QString printable(const QString &value);
// What the scan did at each port it came to, for a script.
QJsonArray portRecords(const ScanReport &report, int language);
// A scan that found nothing says on standard error what happened at each port, in the scan report's words.
void sayWhatEachPortDid(const ScanResult &scan, Outcome outcome, int language, ConsoleOutput &output,
                        const QString &prefix = {});
