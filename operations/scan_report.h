#pragma once

#include "frame_layer.h"
#include "port_problem.h"

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

// The scan's failures go to standard error at info level (on by default), every line at debug level.
Q_DECLARE_LOGGING_CATEGORY(lcScan)

// What a scan did at one port, one entry each time it came to a port (the quick attempt and the
// search may both visit the same port), in the order it went.
struct ScanPortEntry {
    PortStatus status;                  // of the last open attempt at this port
    QList<QByteArray> lineSettingsTried; // each one the port opened at
    int requests = 0;                   // serial-number requests sent
    int badChecks = 0;                  // of them, answered by a frame with a bad check
    int lateReplies = 0;                // of them, answered only by frames meant for other requests
    bool answered = false;

    bool opened() const { return !lineSettingsTried.isEmpty(); }
};

using ScanReport = QList<ScanPortEntry>;

// The texts of these lines: a table of their own in the three languages of the message table
// (0 English, 1 simplified Chinese, 2 traditional Chinese; another index reads English).
enum class ReportText {
    NoDevice,
    NoSuchPort,
    NotATerminal,
    PermissionDenied, // with the fix in words
    Busy,
    BusyBy,           // %1 program, %2 process id
    HungUpOrIoError,
    LineSettingsRefused,
    StaleSimulatorLink,
    NoAnswerAt,       // %1 line settings, %2 requests
    NoAnswerAtMany,   // %1 count of line settings, %2 requests
    ModuleAnswered,
    BadCheck,         // a frame came, but its check did not hold
    LateReplies,      // only replies to earlier requests came
    NoAnswer,         // nothing came
    PermissionDeniedBare,   // where the platform does not tell who may use the device
    PermissionDeniedOwner,  // %1 owner, %2 group, %3 mode in octal
};
constexpr int kReportTextCount = 17;

QString reportText(ReportText text, int language);

// Why the user may not open the device, with the fix where one is known: the group dialout only for a
// device of that group, otherwise the device's owner, group and mode.
QString permissionDeniedText(const PortStatus &status, int language);

// The device behind a port where it is more than the port's own name: "/dev/ttyUSB0"; empty for "COM3" (Windows
// names its ports so) and where there is no device.
QString deviceBesidePort(const PortStatus &status);
// The port as the report lines name it: "COM3 (/dev/ttyUSB0)", "COM16 (no device)", "COM3" alone where the device
// is the port's own name.
QString portLabel(const PortStatus &status, int language);
// What the line says of the port after its label: "opened, no answer at 19200,e,8,1 (2 requests)", "no such port".
QString portStateText(const ScanPortEntry &entry, int language);

// "COM3 (/dev/ttyUSB0): opened, no answer at 19200,e,8,1 (2 requests)", "COM3: no such port" on Windows, and so on.
QString scanReportLine(const ScanPortEntry &entry, int language);
QStringList scanReportLines(const ScanReport &report, int language);

// "good", "bad-check", "late-reply", "no-answer": for a script's eyes.
const char *replyKindKey(FrameReply::Kind kind);
// "answer with a bad check: noise on the line?" and the like, in the scan report's language; empty for Good.
QString replyKindText(FrameReply::Kind kind, int language);
