#pragma once

#include "frame_layer.h"
#include "scan_report.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <vector>

// The ports a scan may use, in the order it tries them, whether a search that finds the module stores
// where, and how it searches. The window's scan: COM1 to COM16, one port after the other, stored.
struct ScanScope {
    QList<int> ports; // empty: COM1 to COM16; a stored port not in the list gets no quick attempt
    bool storeFound = true;
    // Every port of the list searched at the same time, each in its own thread with the requests the serial
    // search gives it; the answer is the serial search's: the first port in list order that answers.
    bool parallel = false;
    // Every port searched to its end and every module found read (parallel only): one result per module.
    bool everyModule = false;
};

// Where a module answers: the port with its device, and the line settings it was opened at (the text opens
// the port, the index names the list's entry).
struct Place {
    int portNumber = 0;
    QString devicePath;
    QByteArray lineSettings;
    int lineSettingsIndex = -1;
};

// What a scan found, as the operation knows it (not as a panel shows it).
struct ScanResult {
    enum class Outcome {
        Complete,         // found, and its version and customer register read
        InformationError, // found (serial number known), but the version or the register could not be read
        NotFound,         // no port gave a serial number
        Stopped,          // a stop request ended the search before a module answered
    };
    // Where the information read stopped, for an InformationError.
    enum class InformationFailure { None, PortNotOpened, VersionUnanswered, CustomerUnanswered };

    Outcome outcome = Outcome::NotFound;
    // Where the module answered (found only).
    Place place;
    QByteArray serialNumber;
    std::optional<QByteArray> version;          // when read
    std::optional<QByteArray> customerRegister; // when read
    // Values a zero byte in the module's reply cut short.
    struct CutShort {
        bool serialNumber = false;
        bool version = false;
        bool customerRegister = false;
        bool any() const { return serialNumber || version || customerRegister; }
    } cutAtZeroByte;
    InformationFailure informationFailure = InformationFailure::None;
    // The last reply of the request that failed (a bad check is not silence).
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    // The status panel's text at the end, in the session's language.
    QString message;
    // What the scan did at each port it came to.
    ScanReport report;
    // A stop request halted the search (with every module asked for: after the modules it found).
    bool stopped = false;
    // With every module asked for: one result each, in the order of the port list (the first is this one).
    std::vector<ScanResult> modules;

    // A module answered: its serial number is known. A stopped search found none.
    bool found() const { return outcome == Outcome::Complete || outcome == Outcome::InformationError; }
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
    Stopped,                // a stop request came before the command: the module was not changed
    ModuleChanged,          // another module answered the confirmation: nothing was sent; a new scan is needed
};

// One attempt of a change: whether its command went out, and whether the module acknowledged it in time.
struct CommandAttempt {
    bool sent = false;
    bool acknowledged = false;
    FrameReply::Kind reply = FrameReply::Kind::TimedOut; // what came for the command, once sent
};

// A change's two attempts, in order; an attempt that stopped before its command (the serial number
// unanswered, a stop request) sent nothing.
struct CommandAttempts {
    std::array<CommandAttempt, 2> each{};

    bool sent() const { return each[0].sent || each[1].sent; }
    bool acknowledged() const { return each[0].acknowledged || each[1].acknowledged; }
    // The command went out, and no acknowledgement came for it in either attempt: what the module did is
    // not known from its replies and has to be looked at.
    bool unacknowledged() const { return sent() && !acknowledged(); }
};

// Where a module that did not acknowledge its baud-rate change answers afterwards.
enum class MovedTo {
    NewLineSettings, // it moved: the acknowledgement was lost or late
    OldLineSettings, // it stayed: it refused the change
    Nowhere,         // neither: nothing known
};

// The customer register read back after a clearing, from the module the scan read.
struct RegisterReadBack {
    enum class Outcome {
        Cleared,         // the register holds nothing but asterisks
        NotCleared,      // it still holds something else
        Unanswered,      // the port did not open, or the module did not answer the serial number or G06
        ModuleChanged,   // another module answers there
    };
    Outcome outcome = Outcome::Unanswered;
    std::optional<QByteArray> customerRegister; // as read
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
};

// The module the last scan read completely, as the changes after it must find it again: who it is and where.
// Until a scan has read one, the baud-rate change and the clearing refuse.
struct ModuleInHand {
    bool found = false;
    QByteArray serialNumber;
    Place place;
};

struct BaudRateResult {
    ChangeOutcome outcome = ChangeOutcome::NoScan;
    int portNumber = 0;
    int lineSettingsIndex = -1;      // asked for
    QByteArray lineSettings;         // asked for
    QByteArray previousLineSettings; // where the module was
    FrameReply::Kind failedReply = FrameReply::Kind::Good; // for ModuleNotConfirmed and Refused
    QByteArray answeredSerialNumber; // for ModuleChanged: the module that answered instead
    CommandAttempts attempts;        // whether the E01 command went out and was acknowledged, in each attempt
    QString message; // the status panel's text at the end

    bool accepted() const { return outcome == ChangeOutcome::Accepted; }
};

struct ClearResult {
    ChangeOutcome outcome = ChangeOutcome::NoScan;
    int portNumber = 0;
    FrameReply::Kind failedReply = FrameReply::Kind::Good; // for ModuleNotConfirmed and Refused
    QByteArray answeredSerialNumber; // for ModuleChanged: the module that answered instead
    CommandAttempts attempts;        // whether the F06 command went out and was acknowledged, in each attempt
    QString message; // the status panel's text at the end

    bool accepted() const { return outcome == ChangeOutcome::Accepted; }
};
