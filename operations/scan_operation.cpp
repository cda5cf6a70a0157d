#include "module_operations.h"

#include "line_settings.h"

namespace {

constexpr int kVersionAttempts = 2;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 16;

bool isLineSettingsIndex(int index)
{
    return index >= 0 && index < kLineSettingsCount;
}

} // namespace

QString ModuleOperation::message(Message m) const
{
    return m_ctx.messages.text(m, m_ctx.settings.languageIndex);
}

int ModuleOperation::storedLineSettingsIndex() const
{
    // The table must never be indexed out of range, whatever the store holds.
    const int index = m_ctx.settings.lineSettingsIndex;
    return isLineSettingsIndex(index) ? index : kDefaultLineSettingsIndex;
}

void ModuleOperation::report(bool success, const QString &text)
{
    m_ctx.view.fillIndicator(success ? kIndicatorYellow : kIndicatorRed);
    m_ctx.view.setPanelText(InfoPanel::Msg, text);
    m_ctx.view.beep(success ? kHighToneHz : kLowToneHz, kToneMs);
}

ModuleOperation::Confirmed ModuleOperation::confirmThen(const std::function<CommandResult()> &command)
{
    Confirmed confirmed;
    if (!m_ctx.port.open(m_ctx.settings.portNumber, m_ctx.settings.lineSettings))
        return confirmed;
    confirmed.outcome = ChangeOutcome::ModuleNotConfirmed;
    for (int attempt = 0; attempt < 2 && confirmed.outcome != ChangeOutcome::Accepted; ++attempt) {
        m_ctx.clock.sleep(kPauseMs);
        const CommandResult serial = m_ctx.commands.readSerialNumber();
        if (!serial.ok) {
            // A module confirmed at the first attempt stays confirmed whatever the second one hears.
            if (confirmed.outcome == ChangeOutcome::ModuleNotConfirmed)
                confirmed.failedReply = serial.reply;
            continue;
        }
        m_ctx.clock.sleep(kPauseMs);
        const CommandResult reply = command();
        confirmed.outcome = reply.ok ? ChangeOutcome::Accepted : ChangeOutcome::Refused;
        confirmed.failedReply = reply.ok ? FrameReply::Kind::Good : reply.reply;
    }
    m_ctx.port.close();
    return confirmed;
}

ScanResult ScanOperation::run()
{
    ModuleView &view = m_ctx.view;
    SettingsStore &settings = m_ctx.settings;

    view.setWaitCursor(true);
    view.processMessages();
    view.setBusy(true);
    view.setPanelText(InfoPanel::Msg, message(Message::ScanModule) + QStringLiteral(" ...."));
    view.setPanelText(InfoPanel::Serial, message(Message::SerialNumber) + kSerialPlaceholder);
    view.setPanelText(InfoPanel::Version, message(Message::Version) + kVersionPlaceholder);
    view.setPanelText(InfoPanel::Customer, message(Message::Customer) + kCustomerPlaceholder);
    view.processMessages();
    m_result = ScanResult{};

    settings.moduleFound = false;
    QByteArray serial;
    bool found = false;
    if (settings.portNumber > 0 && (m_scope.ports.isEmpty() || m_scope.ports.contains(settings.portNumber)))
        found = quickAttempt(serial);
    if (!found)
        found = search(serial);

    if (found) {
        m_result.portNumber = settings.portNumber;
        m_result.lineSettings = settings.lineSettings;
        m_result.lineSettingsIndex = storedLineSettingsIndex();
        m_result.serialNumber = serial;
        if (m_ctx.moduleFound)
            m_ctx.moduleFound();
        const bool complete = readInformation(serial);
        m_result.outcome = complete ? ScanResult::Outcome::Complete : ScanResult::Outcome::InformationError;
        view.setBusy(false);
        view.fillIndicator(complete ? kIndicatorYellow : kIndicatorRed);
        view.beep(complete ? kHighToneHz : kLowToneHz, kToneMs);
        publishReport(complete);
    } else {
        view.setBusy(false);
        view.fillIndicator(kIndicatorRed);
        view.selectLineSettings(kDefaultLineSettingsIndex);
        view.setPanelText(InfoPanel::Msg, message(Message::NotFound));
        m_result.message = message(Message::NotFound);
        view.beep(kLowToneHz, kToneMs);
        publishReport(false);
    }
    view.setWaitCursor(false);
    return m_result;
}

ScanPortEntry &ScanOperation::noteOpen(int portNumber, bool opened, const QByteArray &lineSettings, bool samePort)
{
    if (!samePort || m_result.report.isEmpty())
        m_result.report.append(ScanPortEntry{});
    ScanPortEntry &entry = m_result.report.last();
    entry.status = m_ctx.port.lastOpenStatus();
    entry.status.portNumber = portNumber;
    if (opened)
        entry.lineSettingsTried.append(lineSettings);
    return entry;
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

bool ScanOperation::quickAttempt(QByteArray &serial)
{
    const SettingsStore &settings = m_ctx.settings;
    m_ctx.view.selectLineSettings(storedLineSettingsIndex());
    // The stored string itself opens the port, even where it disagrees with the stored index.
    const bool opened = m_ctx.port.open(settings.portNumber, settings.lineSettings);
    ScanPortEntry &entry = noteOpen(settings.portNumber, opened, settings.lineSettings, false);
    if (!opened)
        return false;
    showPortTried(settings.portNumber);
    const bool found = askSerialNumber(m_ctx.commands, entry, kQuickAttempts, serial);
    m_ctx.port.close();
    return found;
}

bool askSerialNumber(ModuleCommands &commands, ScanPortEntry &entry, int attempts, QByteArray &serial,
                     const std::function<bool()> &halted)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (halted && halted())
            return false;
        const CommandResult reply = commands.readSerialNumber();
        ++entry.requests;
        if (reply.ok) {
            entry.answered = true;
            serial = reply.value;
            return true;
        }
        if (reply.reply == FrameReply::Kind::BadCheck)
            ++entry.badChecks;
        else if (reply.reply == FrameReply::Kind::OtherRequest)
            ++entry.lateReplies;
    }
    return false;
}

bool ScanOperation::search(QByteArray &serial)
{
    ModuleView &view = m_ctx.view;
    SettingsStore &settings = m_ctx.settings;
    QList<int> ports = m_scope.ports;
    if (ports.isEmpty()) {
        for (int port = kFirstPort; port <= kLastPort; ++port)
            ports << port;
    }
    for (const int port : ports) {
        bool firstAtPort = true;
        // The lock box is read afresh before and after every line setting tried.
        for (int index = 0; index < kLineSettingsCount; ++index) {
            if (view.lockChecked())
                index = storedLineSettingsIndex();
            view.selectLineSettings(index);
            const bool opened = m_ctx.port.open(port, kLineSettingsTable[index]);
            ScanPortEntry &entry = noteOpen(port, opened, kLineSettingsTable[index], !firstAtPort);
            firstAtPort = false;
            if (!opened)
                break;
            showPortTried(port);
            const bool found = askSerialNumber(m_ctx.commands, entry, kSearchAttempts, serial);
            if (found) {
                // Stored at once, while the port is still open.
                settings.portNumber = port;
                settings.lineSettings = kLineSettingsTable[index];
                settings.lineSettingsIndex = index;
                if (m_scope.storeFound)
                    settings.saveScanSettings();
            }
            m_ctx.port.close();
            if (found)
                return true;
            if (view.lockChecked())
                break;
        }
    }
    return false;
}

bool ScanOperation::readInformation(const QByteArray &serial)
{
    ModuleView &view = m_ctx.view;
    SettingsStore &settings = m_ctx.settings;
    const QString portSuffix = QStringLiteral(" : #") + QString::number(settings.portNumber) + QStringLiteral(")");

    view.selectLineSettings(storedLineSettingsIndex());
    view.setPanelText(InfoPanel::Serial,
                      message(Message::SerialNumber) + QStringLiteral(" : ") + QString::fromLatin1(serial));

    bool complete = false;
    m_result.informationFailure = ScanResult::InformationFailure::PortNotOpened;
    if (m_ctx.port.open(settings.portNumber, settings.lineSettings)) {
        m_result.informationFailure = ScanResult::InformationFailure::VersionUnanswered;
        for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
            m_ctx.clock.sleep(kPauseMs);
            const CommandResult version = m_ctx.commands.readFirmwareVersion();
            if (!version.ok) {
                m_result.failedReply = version.reply;
                continue;
            }
            m_result.version = version.value;
            m_result.failedReply = FrameReply::Kind::Good;
            m_ctx.clock.sleep(kPauseMs);
            view.setPanelText(InfoPanel::Version,
                              message(Message::Version) + QStringLiteral(" : ") + QString::fromLatin1(version.value));
            // One customer-register request only: a failure here ends the read.
            const CommandResult customer = m_ctx.commands.readCustomerRegister();
            if (customer.ok) {
                complete = true;
                m_result.customerRegister = customer.value;
                m_result.informationFailure = ScanResult::InformationFailure::None;
                view.setPanelText(InfoPanel::Customer, message(Message::Customer) + QStringLiteral(" : ")
                                                           + QString::fromLatin1(customer.value));
                m_result.message = message(Message::InfoOk) + portSuffix;
                view.setPanelText(InfoPanel::Msg, m_result.message);
                settings.moduleFound = true;
            } else {
                m_result.informationFailure = ScanResult::InformationFailure::CustomerUnanswered;
                m_result.failedReply = customer.reply;
            }
            break;
        }
        m_ctx.port.close();
    }
    if (!complete) {
        m_result.message = message(Message::InfoError) + portSuffix;
        view.setPanelText(InfoPanel::Msg, m_result.message);
    }
    return complete;
}
