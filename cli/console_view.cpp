#include "console_view.h"

#include "tone_player.h"

namespace {

const QString kTitleSeparator = QStringLiteral(" : ");

} // namespace

void ConsoleView::begin(bool lowBeepOnlyForModules)
{
    m_panels.clear();
    m_report.clear();
    m_colour = kIndicatorRed;
    m_moduleShown = false;
    m_lowBeepOnlyForModules = lowBeepOnlyForModules;
}

QString ConsoleView::panelValue(InfoPanel which) const
{
    const QString text = panel(which);
    const int separator = text.indexOf(kTitleSeparator);
    return separator < 0 ? QString() : text.mid(separator + kTitleSeparator.size());
}

void ConsoleView::setPanelText(InfoPanel which, const QString &text)
{
    m_panels[which] = text;
    // The scan shows the serial number as soon as it has found the module, before its information read.
    if (which == InfoPanel::Serial && !text.endsWith(kSerialPlaceholder) && !m_moduleShown) {
        m_moduleShown = true;
        if (onModuleShown)
            onModuleShown();
    }
}

void ConsoleView::beep(int frequencyHz, int durationMs)
{
    if (m_lowBeepOnlyForModules && !m_moduleShown)
        return;
    m_tones.play(frequencyHz, durationMs);
}
