#include "console_tool.h"

#include "line_settings.h"

ConsoleTool::ConsoleTool(const CliOptions &options, ConsoleOutput &output, StopToken &stop)
    : m_options(options)
    , m_output(output)
    , m_session(sessionParts(stop))
{
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
    settings.loadSettings();
    settings.moduleFound = false;
    // English unless asked otherwise; only the language button of the window ever stores it.
    if (!m_options.storedLanguage)
        settings.selectLanguage(0, QStringLiteral("English"));
    m_progress.language = settings.languageIndex;
    m_view.selectLineSettings(settings.lineSettingsIndex);
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

BaudRateResult ConsoleTool::setBaudRate(int index)
{
    m_view.begin();
    // As the user chooses the entry in the list before pressing the button.
    m_view.selectLineSettings(index);
    return m_session.changeBaudRate(m_view);
}

ClearResult ConsoleTool::clearCustomerRegister()
{
    m_view.begin();
    return m_session.clearCustomerRegister(m_view);
}

MoveConfirmation ConsoleTool::confirmMove(int index, const QByteArray &serialNumber, bool store)
{
    MoveTarget target;
    target.portNumber = settings().portNumber;
    target.lineSettingsIndex = index;
    target.serialNumber = serialNumber;
    target.store = store;
    return m_session.confirmMove(target);
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
