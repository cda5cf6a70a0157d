#include "module_operations.h"

#include "line_settings.h"

BaudRateResult BaudRateOperation::run()
{
    ModuleView &view = m_ctx.view;
    const Place &place = m_ctx.inHand.place;
    BaudRateResult result;

    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages();

    const int selected = view.selectedLineSettings();
    result.portNumber = place.portNumber;
    result.previousLineSettings = place.lineSettings;
    result.lineSettingsIndex = selected;
    if (!m_ctx.inHand.found) {
        result.outcome = ChangeOutcome::NoScan;
        result.message = message(Message::ScanFirst);
        report(false, result.message);
    } else if (selected < 0 || selected >= kLineSettingsCount) {
        // Without a valid entry there is nothing to ask the module for.
        result.outcome = ChangeOutcome::NoLineSettingsSelected;
        result.message = message(Message::SetBaudRateError);
        report(false, result.message);
    } else {
        result.lineSettings = kLineSettingsTable[selected];
        view.setPanelText(InfoPanel::Msg,
                          message(Message::SetBaudRate) + QStringLiteral(" = ") + QString::fromLatin1(result.lineSettings));
        const Confirmed confirmed = confirmThen([&] { return m_ctx.commands.setModuleBaudRate(selected); });
        result.outcome = confirmed.outcome;
        result.failedReply = confirmed.failedReply;
        result.answeredSerialNumber = confirmed.answeredSerialNumber;
        result.attempts = confirmed.attempts;
        const bool ok = result.accepted();
        if (ok) {
            // The module is at the new line settings from now on; in memory only: the store is written by a
            // scan's search alone.
            Place moved = place;
            moved.lineSettings = result.lineSettings;
            moved.lineSettingsIndex = selected;
            m_ctx.inHand.place = moved;
            m_ctx.remember(moved, false);
        }
        // Another module than the one shown: a new scan must read it first.
        result.message = result.outcome == ChangeOutcome::ModuleChanged ? message(Message::ScanFirst)
                         : message(ok ? Message::SetBaudRateOk : Message::SetBaudRateError);
        report(ok, result.message);
    }

    view.setWindowEnabled(true);
    view.setWaitCursor(false);
    return result;
}
