#include "module_operations.h"

#include "line_settings.h"

void BaudRateOperation::run()
{
    ModuleView &view = m_ctx.view;
    SettingsStore &settings = m_ctx.settings;

    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages();

    const int selected = view.selectedLineSettings();
    if (!settings.moduleFound) {
        report(false, message(2));
    } else if (selected < 0 || selected >= kLineSettingsCount) {
        // Without a valid entry there is nothing to ask the module for.
        report(false, message(21));
    } else {
        view.setPanelText(InfoPanel::Msg,
                          message(19) + QStringLiteral(" = ") + QString::fromLatin1(kLineSettingsTable[selected]));
        const bool ok = confirmThen([&] { return m_ctx.commands.setModuleBaudRate(selected); });
        if (ok) {
            // Memory only: the store is written by a scan's search alone.
            settings.lineSettingsIndex = selected;
            settings.lineSettings = kLineSettingsTable[selected];
        }
        report(ok, message(ok ? 20 : 21));
    }

    view.setWindowEnabled(true);
    view.setWaitCursor(false);
}
