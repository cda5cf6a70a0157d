#pragma once

#include "frame_layer.h"
#include "scan_report.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The ports a scan may use, in the order it tries them, and whether a search that finds the module stores
// where. The window's scan: COM1 to COM16, stored.
struct ScanScope {
    QList<int> ports; // empty: COM1 to COM16; a stored port not in the list gets no quick attempt
    bool storeFound = true;
};

// What a scan found, as the operation knows it (not as a panel shows it).
struct ScanResult {
    enum class Outcome {
        Complete,         // found, and its version and customer register read
        InformationError, // found (serial number known), but the version or the register could not be read
        NotFound,         // no port gave a serial number
    };
    // Where the information read stopped, for an InformationError.
    enum class InformationFailure { None, PortNotOpened, VersionUnanswered, CustomerUnanswered };

    Outcome outcome = Outcome::NotFound;
    // Where the module answered (found only).
    int portNumber = 0;
    QByteArray lineSettings;
    int lineSettingsIndex = -1;
    QByteArray serialNumber;
    std::optional<QByteArray> version;          // when read
    std::optional<QByteArray> customerRegister; // when read
    InformationFailure informationFailure = InformationFailure::None;
    // The last reply of the request that failed (a bad check is not silence).
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    // The status panel's text at the end, in the session's language.
    QString message;
    // What the scan did at each port it came to.
    ScanReport report;

    bool found() const { return outcome != Outcome::NotFound; }
    bool complete() const { return outcome == Outcome::Complete; }
};

// How a baud-rate change or a clearing ended.
enum class ChangeOutcome {
    Accepted,               // the module acknowledged the command
    NoScan,                 // refused at once: no scan has read a module completely
    NoLineSettingsSelected, // baud-rate change only: the list names no entry
    PortNotOpened,          // the port of the module found could not be opened
    ModuleNotConfirmed,     // the module did not answer the serial-number request, twice
    Refused,                // the module was confirmed, but did not acknowledge the command
};

struct BaudRateResult {
    ChangeOutcome outcome = ChangeOutcome::NoScan;
    int portNumber = 0;
    int lineSettingsIndex = -1;      // asked for
    QByteArray lineSettings;         // asked for
    QByteArray previousLineSettings; // where the module was
    FrameReply::Kind failedReply = FrameReply::Kind::Good; // for ModuleNotConfirmed and Refused
    QString message; // the status panel's text at the end

    bool accepted() const { return outcome == ChangeOutcome::Accepted; }
};

struct ClearResult {
    ChangeOutcome outcome = ChangeOutcome::NoScan;
    int portNumber = 0;
    FrameReply::Kind failedReply = FrameReply::Kind::Good; // for ModuleNotConfirmed and Refused
    QString message; // the status panel's text at the end

    bool accepted() const { return outcome == ChangeOutcome::Accepted; }
};

// "good", "bad-check", "late-reply", "no-answer": for a script's eyes.
const char *replyKindKey(FrameReply::Kind kind);
// "answer with a bad check: noise on the line?" and the like, in the scan report's language; empty for Good.
QString replyKindText(FrameReply::Kind kind, int language);
