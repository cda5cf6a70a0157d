#pragma once

#include <QString>
#include <cstdint>

enum class InfoPanel { Msg, Serial, Version, Customer };

// Indicator fill colours, 0x00BBGGRR.
constexpr std::uint32_t kIndicatorRed = 0x0000FF;
constexpr std::uint32_t kIndicatorYellow = 0x00FFFF;

constexpr int kHighToneHz = 1000;
constexpr int kLowToneHz = 300;
constexpr int kToneMs = 300;

// What the information panels show after their title while they hold no value.
inline const QString kSerialPlaceholder = QStringLiteral(" : ________");
inline const QString kVersionPlaceholder = QStringLiteral(" : __.__-__");
inline const QString kCustomerPlaceholder = QStringLiteral(" : ******************************"); // 30

// What the operations need of the window, and only what a view can do: panels, indicator, tones,
// the list and the lock box, busy look, cursor, events. What an operation found (values, outcome,
// the scan's per-port report) comes back as its result from the session. A recording view stands in
// for the window in tests.
class ModuleView {
public:
    virtual ~ModuleView() = default;

    virtual void setPanelText(InfoPanel panel, const QString &text) = 0;
    virtual void fillIndicator(std::uint32_t colour) = 0;
    virtual void beep(int frequencyHz, int durationMs) = 0;
    virtual void selectLineSettings(int index) = 0;
    // -1 when the list has no valid selection.
    virtual int selectedLineSettings() const = 0;
    virtual bool lockChecked() const = 0;
    // Busy mode: blinking indicator and a window that takes no input.
    virtual void setBusy(bool on) = 0;
    virtual void setWaitCursor(bool on) = 0;
    virtual void setWindowEnabled(bool on) = 0;
    virtual void processMessages() = 0;
};
