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
    , m_lookFrames(*m_device, *m_clock, FrameLayer::kLookReplyDeadlineMs, true)
    , m_lookCommands(m_lookFrames)
    , m_watchFrames(*m_device, *m_clock, FrameLayer::kReplyTimeoutMs, true)
    , m_watchCommands(m_watchFrames)
    , m_frontPort(std::move(parts.frontPort))
    , m_searchPorts(std::move(parts.searchPorts))
    , m_stop(parts.stop ? parts.stop : &m_own->stop)
    , m_remember([this](const Place &place, bool save) { remember(place, save); })
{
    if (!m_searchPorts)
        m_searchPorts = [this] { return makeModulePort(*m_clock, m_frontPort); };
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
    return m_messages.text(m, m_settings.languageIndex());
}

void ModuleSession::remember(const Place &place, bool save)
{
    m_settings.rememberPlace(place.portNumber, place.lineSettings, place.lineSettingsIndex);
    if (save)
        m_settings.saveScanSettings();
}

void ModuleSession::loadSettings()
{
    m_settings.loadSettings();
    m_inHand = ModuleInHand{};
}

void ModuleSession::useSettings(const SettingsStore &values)
{
    m_settings = values;
}

void ModuleSession::useLineSettings(int lineSettingsIndex)
{
    m_settings.rememberLineSettings(lineSettingsIndex);
}

void ModuleSession::selectLanguage(int index, const QString &name, bool save)
{
    m_settings.selectLanguage(index, name);
    if (save)
        m_settings.saveLanguage();
}

OperationContext ModuleSession::context(ModuleView &view)
{
    return OperationContext{view,       *m_device,          m_commands, m_settings, m_remember,    m_messages,
                            *m_clock,   m_moduleFound,      *m_stop,    m_stopBeforeChange, m_inHand,
                            m_searchPorts};
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
    return confirmMovedModule(*m_device, m_lookCommands, *m_clock, target);
}

LookResult ModuleSession::lookAgain(const Place &place, const QByteArray &serialNumber)
{
    return lookAtPlace(*m_device, m_watchCommands, place.portNumber, place.lineSettings, serialNumber);
}

MoveConfirmation ModuleSession::findMovedModule(int lineSettingsIndex, bool store)
{
    MoveTarget target;
    target.portNumber = m_inHand.place.portNumber;
    target.lineSettingsIndex = lineSettingsIndex;
    target.serialNumber = m_inHand.serialNumber;
    const MoveConfirmation found = confirmMove(target);
    if (found.confirmed && lineSettingsIndex >= 0 && lineSettingsIndex < kLineSettingsCount) {
        // As a scan's search that found the module there: remembered, and stored when asked.
        Place moved = m_inHand.place;
        moved.lineSettings = kLineSettingsTable[lineSettingsIndex];
        moved.lineSettingsIndex = lineSettingsIndex;
        m_inHand.place = moved;
        remember(moved, store);
    }
    return found;
}

MovedTo ModuleSession::findUnacknowledgedMove(int lineSettingsIndex, bool store)
{
    const Place before = m_inHand.place;
    if (findMovedModule(lineSettingsIndex, store).confirmed)
        return MovedTo::NewLineSettings;
    const LookResult old = lookAtPlace(*m_device, m_lookCommands, before.portNumber, before.lineSettings,
                                       m_inHand.serialNumber);
    return old == LookResult::SameModule ? MovedTo::OldLineSettings : MovedTo::Nowhere;
}

RegisterReadBack ModuleSession::readBackCustomerRegister()
{
    const Place &place = m_inHand.place;
    const ConfirmedCommand read =
        confirmThenCommand(*m_device, m_lookCommands, *m_clock, place.portNumber, place.lineSettings,
                           m_inHand.serialNumber, {}, [this] { return m_lookCommands.readCustomerRegister(); });
    RegisterReadBack back;
    back.failedReply = read.failedReply;
    switch (read.outcome) {
    case ChangeOutcome::Accepted: {
        const QByteArray &value = read.reply.value;
        back.customerRegister = value;
        const bool cleared = !value.isEmpty() && value.count('*') == value.size();
        back.outcome = cleared ? RegisterReadBack::Outcome::Cleared : RegisterReadBack::Outcome::NotCleared;
        break;
    }
    case ChangeOutcome::ModuleChanged:
        back.outcome = RegisterReadBack::Outcome::ModuleChanged;
        break;
    case ChangeOutcome::NoScan:
    case ChangeOutcome::NoLineSettingsSelected:
    case ChangeOutcome::PortNotOpened:
    case ChangeOutcome::ModuleNotConfirmed:
    case ChangeOutcome::Refused:
    case ChangeOutcome::Stopped:
        back.outcome = RegisterReadBack::Outcome::Unanswered;
        break;
    }
    return back;
}
