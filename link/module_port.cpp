#include "module_port.h"

#include "line_settings.h"
#include "port_guard.h"
#include "port_names.h"

#include <QSerialPort>

#include <type_traits>

namespace {

// Writes have no time-out of their own; this only keeps a stuck line from holding the tool for ever.
constexpr int kWriteWaitLimitMs = 2000;
constexpr int kReadWaitMs = 1;
constexpr int kBytePauseMs = 1;
constexpr int kBlockPauseMs = 5;

PortError errorFromSerialPort(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortError::NotFound;
    case QSerialPort::PermissionError:
        // Our own open of the device already succeeded, so this is QSerialPort's lock file.
        return PortError::Busy;
    default:
        return PortError::Other;
    }
}

// 9600 baud, no parity, 8 data bits, 1 stop bit: what any serial device accepts.
const LineSettings kSafeLineSettings{9600, 'n', 8, 1};

void applyLineSettings(QSerialPort &serial, const LineSettings &settings)
{
    serial.setBaudRate(settings.baudRate);
    serial.setParity(settings.parity == 'e' ? QSerialPort::EvenParity : QSerialPort::NoParity);
    serial.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
    serial.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
}

// QSerialPort's handle is a descriptor on POSIX systems and a HANDLE pointer on Windows.
template <typename Handle>
qintptr toNativeHandle(Handle handle)
{
    if constexpr (std::is_pointer_v<Handle>)
        return reinterpret_cast<qintptr>(handle);
    else
        return static_cast<qintptr>(handle);
}

qintptr nativeHandle(const QSerialPort &serial)
{
    return toNativeHandle(serial.handle());
}

} // namespace

struct ModulePort::Private {
    QSerialPort serial;
    PortGuard guard;
    bool open = false;
};

ModulePort::ModulePort(Clock &clock) : d(std::make_unique<Private>()), m_clock(clock) {}

ModulePort::~ModulePort()
{
    close();
}

bool ModulePort::open(int portNumber, const QByteArray &lineSettings)
{
    close();
    m_lastError = PortError::None;
    const QString path = devicePathForPort(portNumber);
    if (path.isEmpty()) {
        m_lastError = PortError::NotFound;
        return false;
    }
    const PortError held = d->guard.acquire(path);
    if (held != PortError::None) {
        m_lastError = held;
        return false;
    }

    const std::optional<LineSettings> settings = parseLineSettings(lineSettings);
    // QSerialPort fails its whole open when the device refuses one of its stored settings (a baud rate
    // the UART cannot make; a pseudo-terminal refuses the parity bit once nothing else changes). So the
    // open uses settings every device takes, and the line settings follow it, where a refusal leaves the
    // line as the device allows and the port open.
    applyLineSettings(d->serial, kSafeLineSettings);
    d->serial.setFlowControl(QSerialPort::NoFlowControl);
    d->serial.setPortName(path);
    if (!d->serial.open(QIODevice::ReadWrite)) {
        m_lastError = errorFromSerialPort(d->serial.error());
        d->serial.clearError();
        d->guard.release();
        return false;
    }
    if (settings) {
        applyLineSettings(d->serial, *settings);
        d->serial.clearError();
    }
    // QSerialPort applies its stored settings at every open; an unreadable string must not change the line.
    d->guard.opened(nativeHandle(d->serial), !settings.has_value());
    d->open = true;
    return true;
}

void ModulePort::close()
{
    if (!d->open)
        return;
    d->guard.restore(nativeHandle(d->serial));
    // QSerialPort may already have closed the device after losing it.
    if (d->serial.isOpen())
        d->serial.close();
    d->serial.clearError();
    d->guard.release();
    d->open = false;
}

bool ModulePort::isOpen() const
{
    return d->open;
}

void ModulePort::writeByte(char value)
{
    writeNow(&value, 1);
    m_clock.sleep(kBytePauseMs);
}

void ModulePort::writeBlock(const char *bytes, int count)
{
    writeNow(bytes, count);
    m_clock.sleep(kBlockPauseMs);
}

void ModulePort::writeNow(const char *bytes, int count)
{
    if (!d->open || count <= 0 || d->serial.write(bytes, count) <= 0)
        return;
    while (d->serial.bytesToWrite() > 0) {
        if (!d->serial.waitForBytesWritten(kWriteWaitLimitMs))
            break;
    }
    d->serial.clearError();
}

bool ModulePort::readByte(char &value)
{
    if (!d->open)
        return false;
    // QSerialPort pulls every waiting byte into its own buffer, where the device no longer shows them.
    if (d->serial.bytesAvailable() == 0 && !d->serial.waitForReadyRead(kReadWaitMs)) {
        const bool timedOut = d->serial.error() == QSerialPort::TimeoutError;
        d->serial.clearError();
        // A lost device fails at once; the wait must still last its millisecond.
        if (!timedOut)
            m_clock.sleep(kReadWaitMs);
    }
    return d->serial.getChar(&value);
}

void ModulePort::discardInput()
{
    if (d->open)
        d->serial.clear(QSerialPort::Input);
}
