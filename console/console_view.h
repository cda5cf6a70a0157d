#pragma once

#include "line_settings.h"
#include "module_view.h"

#include <QString>


class TonePlayer;

// The window's part for the console program: the beeps sound as in the window, the lock box and the
// list are the command's options. What an operation found comes back as its result, so the panels
// are not kept; there is nothing to repaint and no input to keep out, so the cursor, busy mode and
// message processing do nothing.
class ConsoleView final : public ModuleView {
public:
    explicit ConsoleView(TonePlayer &tones) : m_tones(tones) {}

    // The lock box's state and the list's selection, as the user would have set them.
    bool lock = true;
    int selected = kDefaultLineSettingsIndex;

    // Before each operation. With lowBeepOnlyForModules, a scan that found nothing stays silent
    // (watch asks again and again while the bench is empty).
    void begin(bool lowBeepOnlyForModules = false);
    // The scan has found a module: its beeps sound from now on.
    void moduleFound() { m_moduleFound = true; }

    void setPanelText(InfoPanel, const QString &) override {}
    void fillIndicator(std::uint32_t) override {}
    void beep(int frequencyHz, int durationMs) override;
    void selectLineSettings(int index) override { selected = index; }
    int selectedLineSettings() const override { return selected; }
    bool lockChecked() const override { return lock; }
    void setBusy(bool) override {}
    void setWaitCursor(bool) override {}
    void setWindowEnabled(bool) override {}
    void processMessages() override {}

private:
    TonePlayer &m_tones;
    bool m_moduleFound = false;
    bool m_lowBeepOnlyForModules = false;
};
