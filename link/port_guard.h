#pragma once

#include "port_problem.h"

#include <QString>
#include <QtGlobal>

#include <memory>

// What the platform needs around QSerialPort's own open and close: exclusive hold of the
// device, the device's settings as found, and (Windows) the 1 ms timer resolution.
class PortGuard {
public:
    PortGuard();
    ~PortGuard();
    PortGuard(const PortGuard &) = delete;
    PortGuard &operator=(const PortGuard &) = delete;

    // Before QSerialPort opens the device at status.devicePath: checks the node, makes sure no other
    // program holds it, takes the device and saves its settings. False with status.problem (and the
    // holder, or who may use the device, where known) filled when it cannot.
    bool acquire(int portNumber, PortStatus &status);
    // Right after QSerialPort opened it; keepLineSettings puts back the device's own baud rate,
    // parity, data bits, stop bits and flow control over those QSerialPort applied.
    void opened(qintptr handle, bool keepLineSettings);
    // Before QSerialPort closes it: the settings found at acquire go back where QSerialPort's close does
    // not put them back itself (Windows: the time-outs).
    void restore(qintptr handle);
    // After QSerialPort closed it, or when its open failed.
    void release();
    // False for a device that has no parity bit to set (a pseudo-terminal): its refusal of a parity
    // is no fault of the line settings.
    bool carriesParity() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
