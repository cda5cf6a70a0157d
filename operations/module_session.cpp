#include "module_session.h"

#include "module_operations.h"

struct ModuleSession::OwnParts {
    SystemClock clock;
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

template <class Operation> auto ModuleSession::run(ModuleView &view)
{
    const OperationContext context{view, *m_device, m_commands, m_settings, m_messages, *m_clock, m_moduleFound};
    return Operation(context).run();
}

ScanResult ModuleSession::scan(ModuleView &view)
{
    return run<ScanOperation>(view);
}

ScanResult ModuleSession::scan(ModuleView &view, const ScanScope &scope)
{
    const OperationContext context{view, *m_device, m_commands, m_settings, m_messages, *m_clock, m_moduleFound};
    return ScanOperation(context, scope).run();
}

BaudRateResult ModuleSession::changeBaudRate(ModuleView &view)
{
    return run<BaudRateOperation>(view);
}

ClearResult ModuleSession::clearCustomerRegister(ModuleView &view)
{
    return run<ClearOperation>(view);
}
