#include "console_tool.h"

#include "module_operations.h"
#include "port_names.h"

namespace {

constexpr int kProbeAttempts = 2;

QString valueUnless(const QString &value, const QString &panelText, const QString &placeholder)
{
    return panelText.endsWith(placeholder) ? QString() : value;
}

} // namespace

ConsoleTool::ConsoleTool(const CliOptions &options, ConsoleOutput &output)
    : m_options(options)
    , m_output(output)
{
    m_view.lock = !options.allLineSettings;
    m_view.onModuleShown = [this] { m_traced.setStoppable(false); };
    reloadSettings();
}

void ConsoleTool::reloadSettings()
{
    m_settings.loadSettings();
    m_settings.moduleFound = false;
    // English unless asked otherwise; only the language button of the window ever stores it.
    if (!m_options.storedLanguage)
        m_settings.selectLanguage(0, QStringLiteral("English"));
    m_view.selectLineSettings(m_settings.lineSettingsIndex);
}

QString ConsoleTool::message(int k) const
{
    return m_messages.text(k, m_settings.languageIndex);
}

OperationContext ConsoleTool::context()
{
    return OperationContext{m_view, m_traced, m_commands, m_settings, m_messages, m_clock};
}

ModuleReading ConsoleTool::scan(bool quietWhenAbsent)
{
    m_view.begin(quietWhenAbsent);
    m_traced.setQuiet(quietWhenAbsent && !m_options.verbose);
    // Until the module is found, Ctrl-C cuts the search short; its information read runs to its end.
    m_traced.setStoppable(true);
    ScanOperation(context(), ScanScope{m_options.ports, m_storeFound}).run();
    m_traced.setStoppable(false);
    m_traced.setQuiet(false);

    ModuleReading reading;
    reading.report = m_view.scanReport();
    reading.message = m_view.panel(InfoPanel::Msg);
    if (m_view.moduleShown()) {
        reading.outcome = m_view.succeeded() ? ModuleReading::Outcome::Complete
                                             : ModuleReading::Outcome::InformationError;
        reading.portNumber = m_settings.portNumber;
        reading.devicePath = devicePathForPort(m_settings.portNumber);
        reading.lineSettings = m_settings.lineSettings;
        reading.serialNumber = m_view.panelValue(InfoPanel::Serial);
        reading.version = valueUnless(m_view.panelValue(InfoPanel::Version), m_view.panel(InfoPanel::Version),
                                      kVersionPlaceholder);
        // A cleared register reads as the placeholder's asterisks: only the outcome tells it was read.
        if (reading.outcome == ModuleReading::Outcome::Complete)
            reading.customerRegister = m_view.panelValue(InfoPanel::Customer);
        return reading;
    }
    bool anyOpened = false;
    for (const ScanPortEntry &entry : reading.report)
        anyOpened |= entry.opened();
    if (m_traced.stoppedAnOpen())
        reading.outcome = ModuleReading::Outcome::Interrupted;
    else if (!anyOpened)
        reading.outcome = ModuleReading::Outcome::NoPort;
    else
        reading.outcome = ModuleReading::Outcome::NotFound;
    return reading;
}

OperationResult ConsoleTool::setBaudRate(int index)
{
    m_view.begin();
    // As the user chooses the entry in the list before pressing the button.
    m_view.selectLineSettings(index);
    BaudRateOperation(context()).run();
    return {m_view.succeeded(), m_view.panel(InfoPanel::Msg)};
}

OperationResult ConsoleTool::clearCustomerRegister()
{
    m_view.begin();
    ClearOperation(context()).run();
    return {m_view.succeeded(), m_view.panel(InfoPanel::Msg)};
}

ConsoleTool::Presence ConsoleTool::lookAgain(const QString &serialNumber)
{
    m_traced.setQuiet(!m_options.verbose);
    const bool opened = m_traced.open(m_settings.portNumber, m_settings.lineSettings);
    m_traced.setQuiet(false);
    if (!opened) {
        switch (m_traced.lastOpenStatus().problem) {
        case PortProblem::NoSuchPort:
        case PortProblem::NotATerminal:
        case PortProblem::HungUpOrIoError:
        case PortProblem::StaleSimulatorLink:
            // The device has gone with the module (a USB adapter on the fixture's cable, an unplugged link).
            return Presence::Gone;
        default:
            // Busy (another program looks at it for a moment), permission...: nothing seen either way.
            return Presence::Unknown;
        }
    }
    Presence presence = Presence::Gone;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const CommandResult reply = m_commands.readSerialNumber();
        if (reply.ok) {
            // Another module on the same port is a new one: the last one has gone.
            presence = QString::fromLatin1(reply.value) == serialNumber ? Presence::StillThere : Presence::Gone;
            break;
        }
    }
    m_traced.close();
    return presence;
}

void ConsoleTool::useLineSettings(int index)
{
    if (index < 0 || index >= kLineSettingsCount)
        return;
    m_settings.lineSettingsIndex = index;
    m_settings.lineSettings = kLineSettingsTable[index];
    m_view.selectLineSettings(index);
}
