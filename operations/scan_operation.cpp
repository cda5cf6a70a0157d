#include "module_operations.h"

#include "line_settings.h"

#include <algorithm>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 16;

bool isLineSettingsIndex(int index)
{
    return index >= 0 && index < kLineSettingsCount;
}

} // namespace

QString ModuleOperation::message(Message m) const
{
    return m_ctx.messages.text(m, m_ctx.settings.languageIndex());
}

int ModuleOperation::storedLineSettingsIndex() const
{
    // The table must never be indexed out of range, whatever the store holds.
    const int index = m_ctx.settings.lineSettingsIndex();
    return isLineSettingsIndex(index) ? index : kDefaultLineSettingsIndex;
}

void ModuleOperation::report(bool success, const QString &text)
{
    m_ctx.view.fillIndicator(success ? kIndicatorYellow : kIndicatorRed);
    m_ctx.view.setPanelText(InfoPanel::Msg, text);
    m_ctx.view.beep(success ? kHighToneHz : kLowToneHz, kToneMs);
}

ConfirmedCommand confirmThenCommand(SerialDevice &port, ModuleCommands &commands, Clock &clock, int portNumber,
                                    const QByteArray &lineSettings, const QByteArray &serialNumber,
                                    const std::function<bool()> &mayCommand,
                                    const std::function<CommandResult()> &command)
{
    ConfirmedCommand confirmed;
    if (!port.open(portNumber, lineSettings))
        return confirmed;
    confirmed.outcome = ChangeOutcome::ModuleNotConfirmed;
    for (int attempt = 0; attempt < 2 && confirmed.outcome != ChangeOutcome::Accepted; ++attempt) {
        clock.sleep(kPauseMs);
        const CommandResult serial = commands.readSerialNumber();
        if (!serial.ok) {
            // A module confirmed at the first attempt stays confirmed whatever the second one hears.
            if (confirmed.outcome == ChangeOutcome::ModuleNotConfirmed)
                confirmed.failedReply = serial.reply;
            continue;
        }
        if (serial.value != serialNumber) {
            // Swapped or re-pointed since the scan: this module was never read, and is not changed.
            confirmed.outcome = ChangeOutcome::ModuleChanged;
            confirmed.failedReply = FrameReply::Kind::Good;
            confirmed.answeredSerialNumber = serial.value;
            break;
        }
        clock.sleep(kPauseMs);
        if (mayCommand && !mayCommand()) {
            confirmed.outcome = ChangeOutcome::Stopped;
            break;
        }
        confirmed.reply = command();
        confirmed.outcome = confirmed.reply.ok ? ChangeOutcome::Accepted : ChangeOutcome::Refused;
        confirmed.failedReply = confirmed.reply.ok ? FrameReply::Kind::Good : confirmed.reply.reply;
    }
    port.close();
    return confirmed;
}

ModuleOperation::Confirmed ModuleOperation::confirmThen(const std::function<CommandResult()> &command)
{
    const auto mayCommand = [this] { return !(m_ctx.stopBeforeChange && m_ctx.stop.requested()); };
    if (!mayCommand()) {
        Confirmed stopped;
        stopped.outcome = ChangeOutcome::Stopped;
        return stopped;
    }
    const Place &place = m_ctx.inHand.place;
    const Confirmed confirmed = confirmThenCommand(m_ctx.port, m_ctx.commands, m_ctx.clock, place.portNumber,
                                                   place.lineSettings, m_ctx.inHand.serialNumber, mayCommand, command);
    // A new scan must read the module that is there now.
    if (confirmed.outcome == ChangeOutcome::ModuleChanged)
        m_ctx.inHand = ModuleInHand{};
    return confirmed;
}

ScanResult ScanOperation::run()
{
    ModuleView &view = m_ctx.view;
    const SettingsStore &settings = m_ctx.settings;

    view.setWaitCursor(true);
    view.processMessages();
    view.setBusy(true);
    view.setPanelText(InfoPanel::Msg, message(Message::ScanModule) + QStringLiteral(" ...."));
    view.setPanelText(InfoPanel::Serial, message(Message::SerialNumber) + kSerialPlaceholder);
    view.setPanelText(InfoPanel::Version, message(Message::Version) + kVersionPlaceholder);
    view.setPanelText(InfoPanel::Customer, message(Message::Customer) + kCustomerPlaceholder);
    view.processMessages();
    m_result = ScanResult{};
    m_answerRead.reset();

    m_ctx.inHand = ModuleInHand{};
    PortProbe probe(m_ctx.port, m_ctx.commands, m_ctx.clock, m_ctx.stop);
    QByteArray serial;
    bool found = false;
    // Every module means every port searched to its end: a stored place is no shortcut then.
    if (!m_scope.everyModule && settings.portNumber() > 0
        && (m_scope.ports.isEmpty() || m_scope.ports.contains(settings.portNumber())))
        found = quickAttempt(probe, serial);
    bool serialCut = found && probe.serialCutAtZeroByte();
    // The quick attempt answers at the stored place, the stored text opening the port.
    Place place{settings.portNumber(), QString(), settings.lineSettings(), storedLineSettingsIndex()};
    if (!found) {
        const std::optional<Found> answer = m_scope.parallel ? searchParallel() : search(probe);
        found = answer.has_value();
        if (found) {
            place = placeOf(*answer);
            serial = answer->serialNumber;
            serialCut = answer->serialCut;
        }
    }
    m_result.stopped = m_result.stopped || probe.stopped();
    // A stop between the look and the open leaves an entry for a port never tried.
    m_result.report.erase(std::remove_if(m_result.report.begin(), m_result.report.end(),
                                         [](const ScanPortEntry &entry) { return entry.status.portNumber == 0; }),
                          m_result.report.end());

    if (found) {
        m_result.place = place;
        m_result.serialNumber = serial;
        m_result.cutAtZeroByte.serialNumber = serialCut;
        for (const ScanPortEntry &entry : m_result.report) {
            if (entry.answered && entry.status.portNumber == place.portNumber)
                m_result.place.devicePath = entry.status.devicePath;
        }
        if (m_ctx.moduleFound)
            m_ctx.moduleFound();
        bool complete = readInformation(probe, serial);
        for (const ScanResult &module : m_result.modules)
            complete = complete && module.complete();
        view.setBusy(false);
        view.fillIndicator(complete ? kIndicatorYellow : kIndicatorRed);
        view.beep(complete ? kHighToneHz : kLowToneHz, kToneMs);
        publishReport(complete);
    } else {
        if (m_result.stopped)
            m_result.outcome = ScanResult::Outcome::Stopped;
        view.setBusy(false);
        view.fillIndicator(kIndicatorRed);
        view.selectLineSettings(kDefaultLineSettingsIndex);
        view.setPanelText(InfoPanel::Msg, message(Message::NotFound));
        m_result.message = message(Message::NotFound);
        // A stop asked for by the user needs no tone to say the module was not found.
        if (!m_result.stopped)
            view.beep(kLowToneHz, kToneMs);
        publishReport(false);
    }
    view.setWaitCursor(false);
    return m_result;
}

void ScanOperation::publishReport(bool found)
{
    // A scan that ends well prints nothing unless asked; one that does not says what each port did.
    const QStringList lines = scanReportLines(m_result.report, 0);
    if (found) {
        for (const QString &line : lines)
            qCDebug(lcScan, "%s", qUtf8Printable(line));
    } else {
        for (const QString &line : lines)
            qCInfo(lcScan, "%s", qUtf8Printable(line));
    }
}

void ScanOperation::showPortTried(int portNumber)
{
    m_ctx.view.setPanelText(InfoPanel::Msg,
                            message(Message::ScanCom) + QStringLiteral(" : #") + QString::number(portNumber));
}

QList<int> ScanOperation::ports() const
{
    QList<int> ports = m_scope.ports;
    if (ports.isEmpty()) {
        for (int port = kFirstPort; port <= kLastPort; ++port)
            ports << port;
    }
    return ports;
}

QList<int> ScanOperation::lineSettingsToTry() const
{
    if (m_ctx.view.lockChecked())
        return {storedLineSettingsIndex()};
    QList<int> indexes;
    for (int index = 0; index < kLineSettingsCount; ++index)
        indexes << index;
    return indexes;
}

Place ScanOperation::placeOf(const Found &found)
{
    return Place{found.portNumber, QString(), kLineSettingsTable[found.lineSettingsIndex], found.lineSettingsIndex};
}

void ScanOperation::remember(const Found &found)
{
    m_ctx.remember(placeOf(found), m_scope.storeFound);
}

bool ScanOperation::quickAttempt(PortProbe &probe, QByteArray &serial)
{
    const SettingsStore &settings = m_ctx.settings;
    m_ctx.view.selectLineSettings(storedLineSettingsIndex());
    m_result.report.append(ScanPortEntry{});
    // The stored string itself opens the port, even where it disagrees with the stored index.
    if (!probe.open(settings.portNumber(), settings.lineSettings(), m_result.report.last())) {
        if (!m_result.report.last().status.portNumber)
            m_result.report.removeLast(); // stopped before the open
        return false;
    }
    showPortTried(settings.portNumber());
    const bool found = probe.askSerialNumber(m_result.report.last(), kQuickAttempts, serial);
    probe.close();
    return found;
}

bool ScanOperation::readInformation(PortProbe &probe, const QByteArray &serial)
{
    ModuleView &view = m_ctx.view;
    const Place &place = m_result.place;
    const QString portSuffix = QStringLiteral(" : #") + QString::number(place.portNumber) + QStringLiteral(")");

    view.selectLineSettings(storedLineSettingsIndex());
    view.setPanelText(InfoPanel::Serial,
                      message(Message::SerialNumber) + QStringLiteral(" : ") + QString::fromLatin1(serial));

    const auto showVersion = [&](const QByteArray &version) {
        view.setPanelText(InfoPanel::Version, message(Message::Version) + QStringLiteral(" : ") + QString::fromLatin1(version));
    };
    InformationRead read;
    if (!m_result.modules.empty()) {
        // Every module was read by its own port's search; the first one is the scan's.
        const ScanResult &first = m_result.modules.front();
        read.version = first.version;
        read.customerRegister = first.customerRegister;
        read.failure = first.informationFailure;
        read.failedReply = first.failedReply;
        read.versionCutAtZeroByte = first.cutAtZeroByte.version;
        read.customerCutAtZeroByte = first.cutAtZeroByte.customerRegister;
        if (read.version)
            showVersion(*read.version);
    } else if (m_answerRead && !m_answerRead->withdrawn) {
        read = *m_answerRead;
        if (read.version)
            showVersion(*read.version);
    } else {
        read = probe.readInformation(place.portNumber, place.lineSettings, showVersion);
    }
    read.fill(m_result);
    const bool complete = read.complete();
    m_result.outcome = complete ? ScanResult::Outcome::Complete : ScanResult::Outcome::InformationError;
    if (complete) {
        view.setPanelText(InfoPanel::Customer, message(Message::Customer) + QStringLiteral(" : ")
                                                   + QString::fromLatin1(*read.customerRegister));
        m_result.message = message(Message::InfoOk) + portSuffix;
        m_ctx.inHand.found = true;
        m_ctx.inHand.serialNumber = serial;
        m_ctx.inHand.place = place;
    } else {
        m_result.message = message(Message::InfoError) + portSuffix;
    }
    view.setPanelText(InfoPanel::Msg, m_result.message);
    return complete;
}
