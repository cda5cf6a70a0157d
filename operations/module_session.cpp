#include "module_session.h"

#include "line_settings.h"
#include "module_operations.h"

struct ModuleSession::OwnParts {
    SystemClock clock;
    StopToken stop;
    std::unique_ptr<ModulePort> port;
    std::unique_ptr<SerialDevice> front;
};

ModuleSession::ModuleSession() : ModuleSession(Parts{}) {}

ModuleSession::ModuleSession(Parts parts) : ModuleSession(parts, std::make_unique<OwnParts>()) {}

ModuleSession::ModuleSession(Parts parts, std::unique_ptr<OwnParts> own)
    : m_own(std::move(own))
    , m_clock(parts.clock ? parts.clock : &m_own->clock)
    , m_device(parts.port ? parts.port : ownPort(parts, *m_own, *m_clock))
    , m_frames(*m_device, *m_clock)
    , m_commands(m_frames)
    , m_frontPort(std::move(parts.frontPort))
    , m_stop(parts.stop ? parts.stop : &m_own->stop)
{
}

SerialDevice *ModuleSession::ownPort(const Parts &parts, OwnParts &own, Clock &clock)
{
    own.port = std::make_unique<ModulePort>(clock);
    if (!parts.frontPort)
        return own.port.get();
    own.front = parts.frontPort(*own.port);
    return own.front.get();
}

ModuleSession::~ModuleSession() = default;

QString ModuleSession::message(Message m) const
{
    return m_messages.text(m, m_settings.languageIndex);
}

OperationContext ModuleSession::context(ModuleView &view)
{
    return OperationContext{view, *m_device, m_commands, m_settings, m_messages, *m_clock, m_moduleFound, *m_stop,
                            m_stopBeforeChange, m_inHand, m_frontPort};
}

ScanResult ModuleSession::scan(ModuleView &view)
{
    return ScanOperation(context(view)).run();
}

ScanResult ModuleSession::scan(ModuleView &view, const ScanScope &scope)
{
    return ScanOperation(context(view), scope).run();
}

BaudRateResult ModuleSession::changeBaudRate(ModuleView &view)
{
    return BaudRateOperation(context(view)).run();
}

ClearResult ModuleSession::clearCustomerRegister(ModuleView &view)
{
    return ClearOperation(context(view)).run();
}

MoveConfirmation ModuleSession::confirmMove(const MoveTarget &target)
{
    return confirmMovedModule(*m_device, m_commands, *m_clock, m_settings, target);
}

LookResult ModuleSession::lookAgain(const QByteArray &serialNumber)
{
    return lookAtPlace(*m_device, m_commands, m_settings.portNumber, m_settings.lineSettings, serialNumber);
}

MovedTo ModuleSession::findUnacknowledgedMove(int lineSettingsIndex, bool store)
{
    MoveTarget target;
    target.portNumber = m_settings.portNumber;
    target.lineSettingsIndex = lineSettingsIndex;
    target.serialNumber = m_inHand.serialNumber;
    target.store = store;
    if (confirmMove(target).confirmed) {
        // As after an accepted change: the module is at the new line settings from now on.
        m_settings.lineSettingsIndex = lineSettingsIndex;
        m_settings.lineSettings = kLineSettingsTable[lineSettingsIndex];
        return MovedTo::NewLineSettings;
    }
    const LookResult old = lookAtPlace(*m_device, m_commands, m_settings.portNumber, m_settings.lineSettings,
                                       m_inHand.serialNumber);
    return old == LookResult::SameModule ? MovedTo::OldLineSettings : MovedTo::Nowhere;
}

RegisterReadBack ModuleSession::readBackCustomerRegister()
{
    RegisterReadBack read;
    if (!m_device->open(m_settings.portNumber, m_settings.lineSettings))
        return read;
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_clock->sleep(kPauseMs);
        const CommandResult serial = m_commands.readSerialNumber();
        if (!serial.ok) {
            read.failedReply = serial.reply;
            continue;
        }
        if (serial.value != m_inHand.serialNumber) {
            read.outcome = RegisterReadBack::Outcome::ModuleChanged;
            break;
        }
        m_clock->sleep(kPauseMs);
        const CommandResult customer = m_commands.readCustomerRegister();
        if (!customer.ok) {
            read.failedReply = customer.reply;
            continue;
        }
        read.customerRegister = customer.value;
        const bool cleared = !customer.value.isEmpty() && customer.value.count('*') == customer.value.size();
        read.outcome = cleared ? RegisterReadBack::Outcome::Cleared : RegisterReadBack::Outcome::NotCleared;
        read.failedReply = FrameReply::Kind::Good;
        break;
    }
    m_device->close();
    return read;
}
