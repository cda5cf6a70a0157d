#pragma once

#include "module_record.h"
#include "operation_results.h"
#include "outcomes.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

#include <optional>

class ConsoleTool;

// What became of a module a run took in hand.
struct ModuleFate {
    Outcome outcome = Outcome::Failure;
    QString message; // agrees with the outcome: the window's own text where it says the same
    // Where a change left the module; where the scan found it otherwise.
    std::optional<Place> leftAt;
    // The change the run made, shown with its own fields (set-baud, clear).
    std::optional<ChangeReport> change;
    bool baudRate = false;
    // A clearing was made, and the customer register as read back after it (when it could be).
    bool cleared = false;
    std::optional<QByteArray> readBack;
    QString station;
    QDateTime when;
    qint64 durationMs = 0;
};

// A module as a run took it in hand, built once from the scan's typed result and what became of it: its text
// lines, its JSON object, its line in the CSV file and its row in a database are all made from it.
struct ModuleReport {
    ModuleRecord record; // as read, where the module is left, the outcome, the station, the time
    Outcome outcome = Outcome::Failure;
    QString message;
    QString device;
    // A step that failed on a reply that was not silence (the scan's, or the change's).
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    ScanResult::CutShort cutAtZeroByte;
    bool cleared = false;
    std::optional<QByteArray> readBack;
    std::optional<ChangeReport> change;
    bool baudRate = false;
    QString foundLineSettings; // where the scan found the module (before a baud-rate change)
};

// The one builder of a module's report. The scan must have found the module.
ModuleReport moduleReport(const ScanResult &scan, const ModuleFate &fate);

// The module's JSON object: port, device, line_settings (where the module is left), serial_number, version,
// customer_register, message and, where they apply, failed_reply, control_characters, cut_at_zero_byte, the
// change's fields (confirmed, acknowledged_late, answered_serial_number, previous_line_settings) and
// customer_register_read_back. asRecord adds the record's time, outcome, station and duration_ms.
QJsonObject moduleJson(const ModuleReport &report, bool asRecord = false);
// The window's panels after the scan: serial number, version, customer register, then the line settings.
QStringList moduleLines(const ModuleReport &report, const ConsoleTool &tool);
// The production line's one line per module: time, port, line settings, the panels and the message.
QString moduleLine(const ModuleReport &report, const ConsoleTool &tool);
