#include "console_tool.h"

#include "console_platform.h"
#include "line_settings.h"
#include "module_operations.h"
#include "parallel_search.h"
#include "port_names.h"

#include <QMutex>
#include <QMutexLocker>

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

QList<ModuleReading> ConsoleTool::scanParallel(const QList<int> &ports, bool everyModule)
{
    m_view.begin();
    const int stored = m_settings.lineSettingsIndex >= 0 && m_settings.lineSettingsIndex < kLineSettingsCount
        ? m_settings.lineSettingsIndex
        : kDefaultLineSettingsIndex;
    ParallelSearchPlan plan;
    plan.ports = ports;
    for (int index = 0; index < kLineSettingsCount; ++index) {
        if (!m_view.lock || index == stored)
            plan.lineSettingsIndexes << index;
    }
    // A stored port outside the list is not tried.
    if (!everyModule && m_settings.portNumber > 0 && ports.contains(m_settings.portNumber)) {
        plan.quickPort = m_settings.portNumber;
        plan.quickLineSettings = m_settings.lineSettings;
    }
    plan.everyModule = everyModule;
    plan.stopRequested = [] { return stopRequested(); };
    QMutex progressLock; // one whole line at a time from the ports' threads
    const int language = m_settings.languageIndex;
    plan.onOpen = [&](const PortStatus &status, const QByteArray &lineSettings, bool opened) {
        QMutexLocker lock(&progressLock);
        m_output.progress(openProgressLine(status, lineSettings, opened, true, language));
    };

    m_settings.moduleFound = false;
    const auto storePlace = [this](const FoundModule &module) {
        m_settings.portNumber = module.portNumber;
        m_settings.lineSettings = module.lineSettings;
        m_settings.lineSettingsIndex = module.lineSettingsIndex;
        m_settings.saveScanSettings();
    };
    // As the serial search: the place is stored the moment the module answers, before its information is read.
    const ParallelSearchResult result = runParallelSearch(plan, [&](const FoundModule &module) {
        if (!everyModule && !module.byQuickAttempt)
            storePlace(module);
    });
    // With every module, the one first in the list's order is stored, as the serial search would have.
    if (everyModule && !result.modules.isEmpty())
        storePlace(result.modules.first());

    QList<ModuleReading> readings;
    bool allComplete = true;
    for (const FoundModule &module : result.modules) {
        ModuleReading reading;
        reading.outcome = module.complete ? ModuleReading::Outcome::Complete : ModuleReading::Outcome::InformationError;
        reading.portNumber = module.portNumber;
        reading.devicePath = module.devicePath;
        reading.lineSettings = module.lineSettings;
        reading.serialNumber = QString::fromLatin1(module.serialNumber);
        if (module.versionRead)
            reading.version = QString::fromLatin1(module.version);
        if (module.complete)
            reading.customerRegister = QString::fromLatin1(module.customerRegister);
        reading.message = message(module.complete ? 16 : 17) + QStringLiteral(" : #")
            + QString::number(module.portNumber) + QStringLiteral(")");
        reading.report = result.report;
        readings << reading;
        allComplete = allComplete && module.complete;
    }
    if (!everyModule && !readings.isEmpty()) {
        // What the window's scan leaves for the baud-rate change and the clearing.
        const FoundModule &module = result.modules.first();
        m_settings.portNumber = module.portNumber;
        m_settings.lineSettings = module.lineSettings;
        if (!module.byQuickAttempt)
            m_settings.lineSettingsIndex = module.lineSettingsIndex;
        m_settings.moduleFound = module.complete;
    }
    if (readings.isEmpty()) {
        ModuleReading reading;
        reading.report = result.report;
        reading.message = message(18);
        bool anyOpened = false;
        for (const ScanPortEntry &entry : reading.report)
            anyOpened |= entry.opened();
        reading.outcome = result.stopped ? ModuleReading::Outcome::Interrupted
            : anyOpened                  ? ModuleReading::Outcome::NotFound
                                         : ModuleReading::Outcome::NoPort;
        readings << reading;
        allComplete = false;
    }
    if (readings.first().outcome != ModuleReading::Outcome::Interrupted)
        m_view.beep(allComplete ? kHighToneHz : kLowToneHz, kToneMs);
    return readings;
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

MoveConfirmation ConsoleTool::confirmMove(int index, const QString &serialNumber, bool store)
{
    MoveTarget target;
    target.portNumber = m_settings.portNumber;
    target.lineSettingsIndex = index;
    target.serialNumber = serialNumber.toLatin1();
    target.store = store;
    return confirmMovedModule(m_traced, m_commands, m_clock, m_settings, target);
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
