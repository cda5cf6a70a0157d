#include "console_tool.h"

#include "line_settings.h"

ConsoleTool::ConsoleTool(const ToolSetup &setup, ConsoleOutput &output, StopToken &stop)
    : m_setup(setup)
    , m_storeFound(setup.useStore)
    , m_output(output)
    , m_stop(stop)
    , m_session(sessionParts(stop))
{
    m_view.lock = setup.lock;
    m_session.setStopBeforeChange(!setup.finishModuleInHand);
    // Once the module has answered, its information read runs to its end whatever comes.
    m_session.setModuleFoundHook([this] {
        m_progress.searching = false;
        m_view.moduleFound();
    });
    // Without the store: each run on its own terms, as a fresh installation would start.
    if (setup.useStore)
        m_session.loadSettings();
    else
        m_session.useSettings(SettingsStore());
    // English unless asked otherwise; only the language button of the window ever stores it.
    if (!setup.storedLanguage)
        m_session.selectLanguage(0, QStringLiteral("English"), false);
    m_kept = m_session.settings();
    startNextModule();
}

ModuleSession::Parts ConsoleTool::sessionParts(StopToken &stop)
{
    ModuleSession::Parts parts;
    parts.stop = &stop;
    parts.frontPort = [this](ModulePort &port) {
        return std::unique_ptr<SerialDevice>(std::make_unique<TracedPort>(port, m_output, m_progress));
    };
    return parts;
}

void ConsoleTool::startNextModule()
{
    m_session.useSettings(m_kept);
    m_progress.language = language();
    m_view.selectLineSettings(settings().lineSettingsIndex());
    if (m_setup.lineSettingsIndex >= 0)
        useLineSettings(m_setup.lineSettingsIndex);
}

Outcome ConsoleTool::stoppedOutcome() const
{
    return m_stop.reason() == StopToken::Reason::TimeUp ? Outcome::TimedOut : Outcome::Interrupted;
}

Outcome ConsoleTool::outcomeOf(const ScanResult &scan) const
{
    const Outcome outcome = scanOutcome(scan);
    return outcome == Outcome::Interrupted ? stoppedOutcome() : outcome;
}

ChangeReport ConsoleTool::reportOf(ChangeOutcome outcome, Outcome refused, const QString &message,
                                   FrameReply::Kind failedReply, const QByteArray &answeredSerialNumber) const
{
    ChangeReport report;
    report.outcome = changeOutcome(outcome, refused);
    if (report.outcome == Outcome::Interrupted)
        report.outcome = stoppedOutcome();
    report.message = message;
    report.failedReply = failedReply;
    report.answeredSerialNumber = answeredSerialNumber;
    return report;
}

ScanResult ConsoleTool::scan(bool quietWhenAbsent)
{
    m_view.begin(quietWhenAbsent);
    m_progress.quiet = quietWhenAbsent && !m_setup.verbose;
    m_progress.searching = true;
    ScanScope scope;
    scope.ports = m_setup.ports;
    scope.storeFound = m_storeFound;
    scope.parallel = m_setup.parallel || m_setup.everyModule;
    scope.everyModule = m_setup.everyModule;
    const ScanResult result = m_session.scan(m_view, scope);
    m_progress.searching = false;
    m_progress.quiet = false;
    // What a search stored is where the next module is looked for.
    if (result.found() && m_storeFound) {
        const Place &place = result.place;
        m_kept.rememberPlace(place.portNumber, place.lineSettings, place.lineSettingsIndex);
    }
    return result;
}

ChangeReport ConsoleTool::changeBaudRate(int index, bool store)
{
    m_view.begin();
    // As the user chooses the entry in the list before pressing the button.
    m_view.selectLineSettings(index);
    const Place before = m_session.moduleInHand().place;
    const BaudRateResult result = m_session.changeBaudRate(m_view);
    ChangeReport report = reportOf(result.outcome, Outcome::SetBaudRefused, result.message, result.failedReply,
                                   result.answeredSerialNumber);
    if (result.accepted()) {
        report.confirmed = m_session.findMovedModule(index, store).confirmed;
        if (!*report.confirmed) {
            report.outcome = Outcome::SetBaudUnconfirmed;
            report.message = outcomeMeaning(report.outcome);
        }
    } else if (result.attempts.unacknowledged() && result.outcome != ChangeOutcome::ModuleChanged) {
        // The command went out, in either attempt, and no acknowledgement came: that is no refusal yet, the
        // module may have moved all the same. A refusal is only a module that answers where it was.
        switch (m_session.findUnacknowledgedMove(index, store)) {
        case MovedTo::NewLineSettings:
            report.outcome = Outcome::Ok;
            report.acknowledgedLate = true;
            report.confirmed = true;
            report.message = message(Message::SetBaudRateOk);
            break;
        case MovedTo::OldLineSettings:
            report.outcome = Outcome::SetBaudRefused;
            report.message = message(Message::SetBaudRateError);
            break;
        case MovedTo::Nowhere:
            report.outcome = Outcome::SetBaudUnconfirmed;
            report.confirmed = false;
            report.message = outcomeMeaning(report.outcome);
            break;
        }
    }
    // Where the module is left: at the new line settings once it accepted or moved, otherwise where it was.
    report.place = m_session.moduleInHand().found ? m_session.moduleInHand().place : before;
    return report;
}

ChangeReport ConsoleTool::clearCustomerRegister()
{
    m_view.begin();
    const Place before = m_session.moduleInHand().place;
    const ClearResult result = m_session.clearCustomerRegister(m_view);
    ChangeReport report = reportOf(result.outcome, Outcome::ClearRefused, result.message, result.failedReply,
                                   result.answeredSerialNumber);
    report.place = before;
    // Nothing to verify when the command never went out, or when another module answers there now.
    if (!result.accepted() && (!result.attempts.unacknowledged() || result.outcome == ChangeOutcome::ModuleChanged))
        return report;
    // Verified after the write: an acknowledged clearing must show in the register, and one whose
    // acknowledgement never came may have cleared it all the same.
    const RegisterReadBack read = m_session.readBackCustomerRegister();
    report.customerRegister = read.customerRegister;
    switch (read.outcome) {
    case RegisterReadBack::Outcome::Cleared:
        report.acknowledgedLate = !result.accepted();
        report.outcome = Outcome::Ok;
        report.message = message(Message::ClearOk);
        break;
    case RegisterReadBack::Outcome::NotCleared:
        report.outcome = result.accepted() ? Outcome::NotCleared : Outcome::ClearRefused;
        break;
    case RegisterReadBack::Outcome::Unanswered:
    case RegisterReadBack::Outcome::ModuleChanged:
        report.outcome = Outcome::ClearUnconfirmed;
        report.failedReply = read.failedReply;
        break;
    }
    // The window's "Ok" stands only for a clearing the register confirms.
    if (report.outcome == Outcome::NotCleared || report.outcome == Outcome::ClearUnconfirmed)
        report.message = outcomeMeaning(report.outcome);
    return report;
}

LookResult ConsoleTool::lookAgain(const Place &place, const QByteArray &serialNumber)
{
    m_progress.quiet = !m_setup.verbose;
    const LookResult look = m_session.lookAgain(place, serialNumber);
    m_progress.quiet = false;
    return look;
}

void ConsoleTool::useLineSettings(int index)
{
    if (index < 0 || index >= kLineSettingsCount)
        return;
    m_session.useLineSettings(index);
    m_view.selectLineSettings(index);
}
