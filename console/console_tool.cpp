#include "console_tool.h"

#include "line_settings.h"

ConsoleTool::ConsoleTool(const CliOptions &options, ConsoleOutput &output, StopToken &stop)
    : m_options(options)
    , m_output(output)
    , m_stop(stop)
    , m_session(sessionParts(stop))
{
    m_storeFound = !options.noStore;
    m_view.lock = !options.allLineSettings;
    // The production line finishes a module it has taken in hand; a single change is kept off the line
    // by a stop that comes before it.
    m_session.setStopBeforeChange(options.command != CliCommand::Watch);
    // Once the module has answered, its information read runs to its end whatever comes.
    m_session.setModuleFoundHook([this] {
        m_progress.searching = false;
        m_view.moduleFound();
    });
    reloadSettings();
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

void ConsoleTool::reloadSettings()
{
    SettingsStore &settings = m_session.settings();
    // --no-store: each run on its own terms, as a fresh installation would start.
    if (m_options.noStore)
        settings = SettingsStore();
    else
        settings.loadSettings();
    settings.moduleFound = false;
    // English unless asked otherwise; only the language button of the window ever stores it.
    if (!m_options.storedLanguage)
        settings.selectLanguage(0, QStringLiteral("English"));
    m_progress.language = settings.languageIndex;
    m_view.selectLineSettings(settings.lineSettingsIndex);
    if (m_options.lineSettingsIndex >= 0)
        useLineSettings(m_options.lineSettingsIndex);
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
    report.lineSettings = settings().lineSettings;
    return report;
}

ScanResult ConsoleTool::scan(bool quietWhenAbsent)
{
    m_view.begin(quietWhenAbsent);
    m_progress.quiet = quietWhenAbsent && !m_options.verbose;
    m_progress.searching = true;
    ScanScope scope;
    scope.ports = m_options.ports;
    scope.storeFound = m_storeFound;
    scope.parallel = m_options.parallel || m_options.everyModule;
    scope.everyModule = m_options.everyModule;
    const ScanResult result = m_session.scan(m_view, scope);
    m_progress.searching = false;
    m_progress.quiet = false;
    return result;
}

ChangeReport ConsoleTool::changeBaudRate(int index, bool store)
{
    m_view.begin();
    // As the user chooses the entry in the list before pressing the button.
    m_view.selectLineSettings(index);
    const BaudRateResult result = m_session.changeBaudRate(m_view);
    ChangeReport report = reportOf(result.outcome, Outcome::SetBaudRefused, result.message, result.failedReply,
                                   result.answeredSerialNumber);
    if (result.accepted()) {
        report.confirmed = m_session.findMovedModule(index, store).confirmed;
        if (!*report.confirmed)
            report.outcome = Outcome::SetBaudUnconfirmed;
    } else if (result.outcome == ChangeOutcome::Refused) {
        // No acknowledgement is not a refusal yet: the module may have moved all the same.
        switch (m_session.findUnacknowledgedMove(index, store)) {
        case MovedTo::NewLineSettings:
            report.outcome = Outcome::Ok;
            report.acknowledgedLate = true;
            report.confirmed = true;
            break;
        case MovedTo::OldLineSettings:
            break;
        case MovedTo::Nowhere:
            report.outcome = Outcome::SetBaudUnconfirmed;
            report.confirmed = false;
            break;
        }
    }
    report.lineSettings = settings().lineSettings;
    return report;
}

ChangeReport ConsoleTool::clearCustomerRegister()
{
    m_view.begin();
    const ClearResult result = m_session.clearCustomerRegister(m_view);
    ChangeReport report = reportOf(result.outcome, Outcome::ClearRefused, result.message, result.failedReply,
                                   result.answeredSerialNumber);
    if (!result.accepted() && result.outcome != ChangeOutcome::Refused)
        return report;
    // Verified after the write: an acknowledged clearing must show in the register, and one whose
    // acknowledgement never came may have cleared it all the same.
    const RegisterReadBack read = m_session.readBackCustomerRegister();
    report.customerRegister = read.customerRegister;
    switch (read.outcome) {
    case RegisterReadBack::Outcome::Cleared:
        report.acknowledgedLate = !result.accepted();
        report.outcome = Outcome::Ok;
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
    return report;
}

LookResult ConsoleTool::lookAgain(const QByteArray &serialNumber)
{
    m_progress.quiet = !m_options.verbose;
    const LookResult look = m_session.lookAgain(serialNumber);
    m_progress.quiet = false;
    return look;
}

void ConsoleTool::useLineSettings(int index)
{
    if (index < 0 || index >= kLineSettingsCount)
        return;
    SettingsStore &stored = m_session.settings();
    stored.lineSettingsIndex = index;
    stored.lineSettings = kLineSettingsTable[index];
    m_view.selectLineSettings(index);
}
