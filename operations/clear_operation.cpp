#include "module_operations.h"

ClearResult ClearOperation::run()
{
    ModuleView &view = m_ctx.view;
    ClearResult result;

    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages();

    result.portNumber = m_ctx.inHand.place.portNumber;
    if (!m_ctx.inHand.found) {
        result.outcome = ChangeOutcome::NoScan;
        result.message = message(Message::ScanFirst);
        report(false, result.message);
    } else {
        // The register is not read back: the placeholder stands whatever the outcome.
        view.setPanelText(InfoPanel::Customer, message(Message::Customer) + kCustomerPlaceholder);
        const Confirmed confirmed = confirmThen([&] { return m_ctx.commands.clearCustomerRegister(); });
        result.outcome = confirmed.outcome;
        result.failedReply = confirmed.failedReply;
        result.answeredSerialNumber = confirmed.answeredSerialNumber;
        result.attempts = confirmed.attempts;
        // Another module than the one shown: a new scan must read it first.
        result.message = result.outcome == ChangeOutcome::ModuleChanged ? message(Message::ScanFirst)
                         : message(result.accepted() ? Message::ClearOk : Message::ClearError);
        report(result.accepted(), result.message);
    }

    view.setWindowEnabled(true);
    view.setWaitCursor(false);
    return result;
}
