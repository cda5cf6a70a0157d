#pragma once

#include "clock.h"
#include "frame_layer.h"
#include "module_commands.h"
#include "module_port.h"
#include "operation_results.h"
#include "scan_report.h"
#include "serial_device.h"
#include "stop_token.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

// The serial-number requests of a scan: 3 at the stored port, 2 per port and line settings in the search.
constexpr int kQuickAttempts = 3;
constexpr int kSearchAttempts = 2;
// The information read: the version asked up to twice, the customer register once, a pause before each.
constexpr int kVersionAttempts = 2;
constexpr int kPauseMs = 200;

// A device put in front of a module port (the console program's port that reports every open).
using FrontPort = std::function<std::unique_ptr<SerialDevice>(ModulePort &port)>;

// Makes the port one thread of a parallel search talks through. Called in that thread, which uses the port
// and destroys it there.
using SearchPortMaker = std::function<std::unique_ptr<SerialDevice>()>;

// The real module port on the given clock, behind the front port where there is one, as one device that
// owns both.
std::unique_ptr<SerialDevice> makeModulePort(Clock &clock, const FrontPort &front);

// What the information read of a module found gave.
struct InformationRead {
    std::optional<QByteArray> version;
    std::optional<QByteArray> customerRegister;
    ScanResult::InformationFailure failure = ScanResult::InformationFailure::PortNotOpened;
    FrameReply::Kind failedReply = FrameReply::Kind::Good;
    bool versionCutAtZeroByte = false;
    bool customerCutAtZeroByte = false;
    // Given up before the first request: the read was not this port's to make.
    bool withdrawn = false;

    bool complete() const { return failure == ScanResult::InformationFailure::None; }
    // The values read, where they failed and what a zero byte cut short, into the scan's result.
    void fill(ScanResult &result) const
    {
        result.version = version;
        result.customerRegister = customerRegister;
        result.informationFailure = failure;
        result.failedReply = failedReply;
        result.cutAtZeroByte.version = versionCutAtZeroByte;
        result.cutAtZeroByte.customerRegister = customerCutAtZeroByte;
    }
};

// One port as a scan uses it: an open noted in the port's report entry, the serial-number requests,
// and the information read of the module found there. The serial search probes on the session's own
// port; each thread of the parallel search on a port of its own, on the session's clock. Nothing is
// opened and nothing is asked once a stop is requested, or once `halted` says so.
class PortProbe {
public:
    PortProbe(SerialDevice &port, ModuleCommands &commands, Clock &clock, const StopToken &stop,
              std::function<bool()> halted = {})
        : m_port(port), m_commands(commands), m_clock(clock), m_stop(stop), m_halted(std::move(halted))
    {
    }

    // Whether the probe may go on; false also records that a stop request ended it.
    bool mayGoOn();
    bool stopped() const { return m_stopped; }
    // The last serial number answered was cut short by a zero byte in the reply.
    bool serialCutAtZeroByte() const { return m_serialCut; }

    // Opens the port at the line settings and notes the attempt in the entry.
    bool open(int portNumber, const QByteArray &lineSettings, ScanPortEntry &entry);
    // Up to `attempts` serial-number requests on the open port, each counted in the entry with what came
    // back. True with the serial number once one answers.
    bool askSerialNumber(ScanPortEntry &entry, int attempts, QByteArray &serial);
    void close() { m_port.close(); }

    // A new opening at the module's place, then up to twice: pause, version, and after a good version a
    // pause and the customer register once. versionRead, when given, sees the version as soon as it is
    // read. Runs to its end whatever a stop request says: a module found is read completely. mayBegin, when
    // given, is asked after the first pause: false closes the port before any request.
    InformationRead readInformation(int portNumber, const QByteArray &lineSettings,
                                    const std::function<void(const QByteArray &)> &versionRead = {},
                                    const std::function<bool()> &mayBegin = {});

private:
    SerialDevice &m_port;
    ModuleCommands &m_commands;
    Clock &m_clock;
    const StopToken &m_stop;
    std::function<bool()> m_halted;
    bool m_stopped = false;
    bool m_serialCut = false;
};

// A port of its own, with its frame layer and commands, for one thread of a parallel search: made, used
// and destroyed in that thread. The clock is the session's, which every thread uses at once.
class SearchPort {
public:
    SearchPort(std::unique_ptr<SerialDevice> device, Clock &clock);
    SearchPort(const SearchPort &) = delete;
    SearchPort &operator=(const SearchPort &) = delete;

    SerialDevice &device() { return *m_device; }
    ModuleCommands &commands() { return m_commands; }

private:
    std::unique_ptr<SerialDevice> m_device;
    FrameLayer m_frames;
    ModuleCommands m_commands{m_frames};
};
