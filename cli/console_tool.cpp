#include "console_tool.h"

#include "port_names.h"

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
    const ScanResult result = m_session.scan(m_view);
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

bool ConsoleTool::moduleStillAnswers(const QString &serialNumber)
{
    const SettingsStore &stored = settings();
    m_traced->setQuiet(!m_options.verbose);
    const bool opened = m_traced->open(stored.portNumber, stored.lineSettings);
    m_traced->setQuiet(false);
    if (!opened)
        return false;
    bool same = false;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const CommandResult reply = m_session.commands().readSerialNumber();
        if (reply.ok) {
            // Another module on the same port is a new one: the last one has gone.
            same = QString::fromLatin1(reply.value) == serialNumber;
            break;
        }
    }
    m_traced->close();
    return same;
}
