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

PortProblem problemFromSerialPort(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortProblem::NoSuchPort;
    case QSerialPort::PermissionError:
        // Our own open of the device already succeeded, so this is QSerialPort's lock file.
        return PortProblem::Busy;
    default:
        return PortProblem::HungUpOrIoError;
    }
}


struct SerialSettings {
    qint32 baudRate;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};

SerialSettings serialSettingsFor(const LineSettings &settings)
{
    return {settings.baudRate, settings.parity == 'e' ? QSerialPort::EvenParity : QSerialPort::NoParity,
            static_cast<QSerialPort::DataBits>(settings.dataBits),
            settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop};
}

// 9600 baud, no parity, 8 data bits, 1 stop bit: what any serial device accepts.
const SerialSettings kSafeLineSettings{9600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop};

// Back into the string's terms, as far as they reach: parity 'o' odd, '?' any other.
LineSettings lineSettingsOf(const SerialSettings &serial)
{
    LineSettings settings;
    settings.baudRate = serial.baudRate;
    settings.parity = serial.parity == QSerialPort::EvenParity ? 'e'
        : serial.parity == QSerialPort::OddParity              ? 'o'
        : serial.parity == QSerialPort::NoParity               ? 'n'
                                                               : '?';
    settings.dataBits = int(serial.dataBits);
    settings.stopBits = serial.stopBits == QSerialPort::TwoStop ? 2 : serial.stopBits == QSerialPort::OneStop ? 1 : 0;
    return settings;
}

// False when the device refused one of them; a refused parity counts only where the device has one
// (a pseudo-terminal refuses any parity, having none).
bool applyLineSettings(QSerialPort &serial, const SerialSettings &settings, bool parityCounts)
{
    bool taken = serial.setBaudRate(settings.baudRate);
    taken = (serial.setParity(settings.parity) || !parityCounts) && taken;
    taken = serial.setDataBits(settings.dataBits) && taken;
    taken = serial.setStopBits(settings.stopBits) && taken;
    return taken;
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
    m_status = PortStatus{};
    m_status.portNumber = portNumber;
    const QString path = devicePathForPort(portNumber);
    m_status.devicePath = path;
    if (path.isEmpty()) {
        m_status.problem = PortProblem::NoSuchPort;
        return false;
    }
    if (!d->guard.acquire(portNumber, m_status))
        return false;

    const std::optional<LineSettings> settings = parseLineSettings(lineSettings);
    // QSerialPort fails its whole open when the device refuses one of its stored settings (a baud rate
    // the UART cannot make; a pseudo-terminal refuses the parity bit once nothing else changes). So the
    // open uses settings every device takes, and the line settings follow it, where a refusal leaves the
    // line as the device allows and the port open.
    applyLineSettings(d->serial, kSafeLineSettings, true);
    d->serial.setFlowControl(QSerialPort::NoFlowControl);
    d->serial.setPortName(path);
    if (!d->serial.open(QIODevice::ReadWrite)) {
        m_status.problem = problemFromSerialPort(d->serial.error());
        d->serial.clearError();
        d->guard.release();
        return false;
    }
    m_requested.reset();
    if (settings) {
        const SerialSettings serial = serialSettingsFor(*settings);
        m_requested = lineSettingsOf(serial);
        if (!applyLineSettings(d->serial, serial, d->guard.carriesParity()))
            m_status.problem = PortProblem::LineSettingsRefused;
    } else {
        m_status.problem = PortProblem::LineSettingsRefused;
    }
    d->serial.clearError();
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
        const QSerialPort::SerialPortError error = d->serial.error();
        d->serial.clearError();
        // A lost device fails at once; the wait must still last its millisecond.
        if (error != QSerialPort::TimeoutError) {
            if (error != QSerialPort::NoError)
                m_status.problem = PortProblem::HungUpOrIoError;
            m_clock.sleep(kReadWaitMs);
        }
    }
    return d->serial.getChar(&value);
}

void ModulePort::discardInput()
{
    if (d->open)
        d->serial.clear(QSerialPort::Input);
}
