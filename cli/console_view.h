#pragma once

#include "line_settings.h"
#include "module_view.h"

#include <QMap>
#include <QString>

#include <functional>

class TonePlayer;

// The window's part for the console program: keeps what the operations show, so the program can
// report it when the operation has returned; the beeps sound as in the window. There is nothing to
// repaint and no input to keep out, so the cursor, busy mode and message processing do nothing.
class ConsoleView final : public ModuleView {
public:
    explicit ConsoleView(TonePlayer &tones) : m_tones(tones) {}

    // The lock box's state and the list's selection, as the user would have set them.
    bool lock = true;
    int selected = kDefaultLineSettingsIndex;

    // Before each operation. With lowBeepOnlyForModules, a scan that found nothing stays silent
    // (watch asks again and again while the bench is empty).
    void begin(bool lowBeepOnlyForModules = false);
    // Called once per operation when the scan shows the serial number of a module it found.
    std::function<void()> onModuleShown;

    QString panel(InfoPanel which) const { return m_panels.value(which); }
    // The text after "title : " in a panel.
    QString panelValue(InfoPanel which) const;
    // The operation's outcome colour: yellow.
    bool succeeded() const { return m_colour == kIndicatorYellow; }
    bool moduleShown() const { return m_moduleShown; }
    // What the last scan did at each port it came to.
    const ScanReport &scanReport() const { return m_report; }

    void setPanelText(InfoPanel panel, const QString &text) override;
    void fillIndicator(std::uint32_t colour) override { m_colour = colour; }
    void beep(int frequencyHz, int durationMs) override;
    void selectLineSettings(int index) override { selected = index; }
    int selectedLineSettings() const override { return selected; }
    bool lockChecked() const override { return lock; }
    void setBusy(bool) override {}
    void setWaitCursor(bool) override {}
    void setWindowEnabled(bool) override {}
    void processMessages() override {}
    void setScanReport(const ScanReport &report) override { m_report = report; }

private:
    TonePlayer &m_tones;
    QMap<InfoPanel, QString> m_panels;
    ScanReport m_report;
    std::uint32_t m_colour = kIndicatorRed;
    bool m_moduleShown = false;
    bool m_lowBeepOnlyForModules = false;
};
