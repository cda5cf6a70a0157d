#include "console_tool.h"

#include "console_platform.h"
#include "line_settings.h"
#include "parallel_search.h"
#include "port_names.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

constexpr int kProbeAttempts = 2;

} // namespace

ConsoleTool::ConsoleTool(const CliOptions &options, ConsoleOutput &output)
    : m_options(options)
    , m_output(output)
{
    m_view.lock = !options.allLineSettings;
    // Once the module has answered, its information read runs to its end whatever comes.
    m_session.setModuleFoundHook([this] {
        m_traced->setStoppable(false);
        m_view.moduleFound();
    });
    reloadSettings();
}

ModuleSession::Parts ConsoleTool::sessionParts()
{
    ModuleSession::Parts parts;
    parts.frontPort = [this](ModulePort &port) {
        auto traced = std::make_unique<TracedPort>(port, m_output, [this] { return settings().languageIndex; });
        m_traced = traced.get();
        return std::unique_ptr<SerialDevice>(std::move(traced));
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
    m_view.selectLineSettings(settings.lineSettingsIndex);
}

ModuleReading ConsoleTool::scan(bool quietWhenAbsent)
{
    m_view.begin(quietWhenAbsent);
    m_traced->setQuiet(quietWhenAbsent && !m_options.verbose);
    // Until the module is found, Ctrl-C cuts the search short; its information read runs to its end.
    m_traced->setStoppable(true);
    const ScanResult result = m_session.scan(m_view, ScanScope{m_options.ports, m_storeFound});
    m_traced->setStoppable(false);
    m_traced->setQuiet(false);

    ModuleReading reading;
    reading.scan = result;
    reading.report = result.report;
    reading.message = result.message;
    if (result.found()) {
        reading.outcome = result.complete() ? ModuleReading::Outcome::Complete
                                            : ModuleReading::Outcome::InformationError;
        reading.portNumber = result.portNumber;
        reading.devicePath = devicePathForPort(result.portNumber);
        reading.lineSettings = result.lineSettings;
        reading.serialNumber = QString::fromLatin1(result.serialNumber);
        reading.version = QString::fromLatin1(result.version.value_or(QByteArray()));
        reading.customerRegister = QString::fromLatin1(result.customerRegister.value_or(QByteArray()));
        return reading;
    }
    bool anyOpened = false;
    for (const ScanPortEntry &entry : reading.report)
        anyOpened |= entry.opened();
    if (m_traced->stoppedAnOpen())
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
    const BaudRateResult result = m_session.changeBaudRate(m_view);
    return {result.accepted(), result.message, result.outcome, result.failedReply};
}

OperationResult ConsoleTool::clearCustomerRegister()
{
    m_view.begin();
    const ClearResult result = m_session.clearCustomerRegister(m_view);
    return {result.accepted(), result.message, result.outcome, result.failedReply};
}

QList<ModuleReading> ConsoleTool::scanParallel(const QList<int> &ports, bool everyModule)
{
    SettingsStore &settings = m_session.settings();
    m_view.begin();
    const int stored = settings.lineSettingsIndex >= 0 && settings.lineSettingsIndex < kLineSettingsCount
        ? settings.lineSettingsIndex
        : kDefaultLineSettingsIndex;
    ParallelSearchPlan plan;
    plan.ports = ports;
    for (int index = 0; index < kLineSettingsCount; ++index) {
        if (!m_view.lock || index == stored)
            plan.lineSettingsIndexes << index;
    }
    // A stored port outside the list is not tried.
    if (!everyModule && settings.portNumber > 0 && ports.contains(settings.portNumber)) {
        plan.quickPort = settings.portNumber;
        plan.quickLineSettings = settings.lineSettings;
    }
    plan.everyModule = everyModule;
    plan.stopRequested = [] { return stopRequested(); };
    QMutex progressLock; // one whole line at a time from the ports' threads
    const int language = settings.languageIndex;
    plan.onOpen = [&](const PortStatus &status, const QByteArray &lineSettings, bool opened) {
        QMutexLocker lock(&progressLock);
        m_output.progress(openProgressLine(status, lineSettings, opened, true, language));
    };

    settings.moduleFound = false;
    const auto storePlace = [&settings](const ScanResult &scan) {
        settings.portNumber = scan.portNumber;
        settings.lineSettings = scan.lineSettings;
        settings.lineSettingsIndex = scan.lineSettingsIndex;
        settings.saveScanSettings();
    };
    // As the serial search: the place is stored the moment the module answers, before its information is read.
    const ParallelSearchResult result = runParallelSearch(plan, [&](const FoundModule &module) {
        if (!everyModule && !module.byQuickAttempt)
            storePlace(module.scan);
    });
    // With every module, the one first in the list's order is stored, as the serial search would have found it first.
    if (everyModule && !result.modules.isEmpty())
        storePlace(result.modules.first().scan);

    QList<ModuleReading> readings;
    bool allComplete = true;
    for (const FoundModule &module : result.modules) {
        ModuleReading reading;
        reading.scan = module.scan;
        reading.scan.report = result.report;
        reading.scan.message = message(module.scan.complete() ? Message::InfoOk : Message::InfoError)
            + QStringLiteral(" : #") + QString::number(module.scan.portNumber) + QStringLiteral(")");
        reading.outcome = module.scan.complete() ? ModuleReading::Outcome::Complete
                                                 : ModuleReading::Outcome::InformationError;
        reading.portNumber = module.scan.portNumber;
        reading.devicePath = module.devicePath;
        reading.lineSettings = module.scan.lineSettings;
        reading.serialNumber = QString::fromLatin1(module.scan.serialNumber);
        reading.version = QString::fromLatin1(module.scan.version.value_or(QByteArray()));
        reading.customerRegister = QString::fromLatin1(module.scan.customerRegister.value_or(QByteArray()));
        reading.message = reading.scan.message;
        reading.report = result.report;
        readings << reading;
        allComplete = allComplete && module.scan.complete();
    }
    if (!everyModule && !readings.isEmpty()) {
        // What the window's scan leaves for the baud-rate change and the clearing.
        const FoundModule &module = result.modules.first();
        settings.portNumber = module.scan.portNumber;
        settings.lineSettings = module.scan.lineSettings;
        if (!module.byQuickAttempt)
            settings.lineSettingsIndex = module.scan.lineSettingsIndex;
        settings.moduleFound = module.scan.complete();
    }
    if (readings.isEmpty()) {
        ModuleReading reading;
        reading.report = result.report;
        reading.message = message(Message::NotFound);
        reading.scan.report = reading.report;
        reading.scan.message = reading.message;
        bool anyOpened = false;
        for (const ScanPortEntry &entry : reading.report)
            anyOpened |= entry.opened();
        reading.outcome = result.stopped ? ModuleReading::Outcome::Interrupted
            : anyOpened                  ? ModuleReading::Outcome::NotFound
                                         : ModuleReading::Outcome::NoPort;
        readings << reading;
        allComplete = false;
    }
    if (readings.first().outcome == ModuleReading::Outcome::Interrupted)
        return readings;
    m_view.beep(allComplete ? kHighToneHz : kLowToneHz, kToneMs);
    // Every module was asked for, and some ports were cut short: the modules read so far, then the interruption.
    if (everyModule && result.stopped) {
        ModuleReading interrupted;
        interrupted.outcome = ModuleReading::Outcome::Interrupted;
        interrupted.report = result.report;
        readings << interrupted;
    }
    return readings;
}

MoveConfirmation ConsoleTool::confirmMove(int index, const QString &serialNumber, bool store)
{
    MoveTarget target;
    target.portNumber = settings().portNumber;
    target.lineSettingsIndex = index;
    target.serialNumber = serialNumber.toLatin1();
    target.store = store;
    return confirmMovedModule(*m_traced, m_session.commands(), m_session.clock(), m_session.settings(), target);
}

ConsoleTool::Presence ConsoleTool::lookAgain(const QString &serialNumber)
{
    const SettingsStore &stored = settings();
    m_traced->setQuiet(!m_options.verbose);
    const bool opened = m_traced->open(stored.portNumber, stored.lineSettings);
    m_traced->setQuiet(false);
    if (!opened) {
        switch (m_traced->lastOpenStatus().problem) {
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
        const CommandResult reply = m_session.commands().readSerialNumber();
        if (reply.ok) {
            // Another module on the same port is a new one: the last one has gone.
            presence = QString::fromLatin1(reply.value) == serialNumber ? Presence::StillThere : Presence::Gone;
            break;
        }
        // Something answered, only not cleanly (noise, a damaged frame): not the silence of a module gone.
        if (reply.reply == FrameReply::Kind::BadCheck)
            presence = Presence::Unknown;
    }
    m_traced->close();
    return presence;
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
