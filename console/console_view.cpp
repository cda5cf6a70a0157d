#include "console_view.h"

#include "tone_player.h"

void ConsoleView::begin(bool lowBeepOnlyForModules)
{
    m_moduleFound = false;
    m_lowBeepOnlyForModules = lowBeepOnlyForModules;
}

void ConsoleView::beep(int frequencyHz, int durationMs)
{
    if (m_lowBeepOnlyForModules && !m_moduleFound)
        return;
    m_tones.play(frequencyHz, durationMs);
}
