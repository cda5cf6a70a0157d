#include "module_operations.h"

void ClearOperation::run()
{
    ModuleView &view = m_ctx.view;

    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages();

    if (!m_ctx.settings.moduleFound) {
        report(false, message(2));
    } else {
        // The register is not read back: the placeholder stands whatever the outcome.
        view.setPanelText(InfoPanel::Customer, message(22) + kCustomerPlaceholder);
        const bool ok = confirmThen([&] { return m_ctx.commands.clearCustomerRegister(); });
        report(ok, message(ok ? 24 : 25));
    }

    view.setWindowEnabled(true);
    view.setWaitCursor(false);
}
