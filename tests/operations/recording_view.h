#pragma once

#include "module_view.h"

#include <QMap>
#include <QStringList>
#include <functional>

// Stands in for the window: keeps what is shown and logs every call in order.
class RecordingView final : public ModuleView {
public:
    explicit RecordingView(QStringList &log) : m_log(log) {}

    bool lock = true;
    int selected = 5;
    QMap<InfoPanel, QString> panels;
    std::uint32_t colour = kIndicatorRed;
    bool busy = false;
    bool enabled = true;
    bool waitCursor = false;
    // Runs after every selection, so a test can play the user clicking the lock box meanwhile.
    std::function<void(int index)> onSelect;

    QString panel(InfoPanel which) const { return panels.value(which); }

    void setPanelText(InfoPanel which, const QString &text) override
    {
        panels[which] = text;
        m_log << QStringLiteral("text %1 %2").arg(panelName(which), text);
    }
    void fillIndicator(std::uint32_t fill) override
    {
        colour = fill;
        m_log << (fill == kIndicatorYellow ? QStringLiteral("fill yellow")
                  : fill == kIndicatorRed  ? QStringLiteral("fill red")
                                           : QStringLiteral("fill %1").arg(fill, 6, 16, QChar('0')));
    }
    void beep(int frequencyHz, int durationMs) override
    {
        m_log << QStringLiteral("beep %1 %2").arg(frequencyHz).arg(durationMs);
    }
    void selectLineSettings(int index) override
    {
        selected = index;
        m_log << QStringLiteral("select %1").arg(index);
        if (onSelect)
            onSelect(index);
    }
    int selectedLineSettings() const override { return selected; }
    bool lockChecked() const override { return lock; }
    void setBusy(bool on) override
    {
        busy = on;
        m_log << QStringLiteral("busy %1").arg(on);
    }
    void setWaitCursor(bool on) override
    {
        waitCursor = on;
        m_log << (on ? QStringLiteral("cursor wait") : QStringLiteral("cursor default"));
    }
    void setWindowEnabled(bool on) override
    {
        enabled = on;
        m_log << QStringLiteral("enabled %1").arg(on);
    }
    void processMessages() override { m_log << QStringLiteral("process"); }

    static QString panelName(InfoPanel which)
    {
        switch (which) {
        case InfoPanel::Msg: return QStringLiteral("pnMsg");
        case InfoPanel::Serial: return QStringLiteral("pnSerial");
        case InfoPanel::Version: return QStringLiteral("pnVersion");
        case InfoPanel::Customer: return QStringLiteral("pnCustomer");
        }
        return {};
    }

private:
    QStringList &m_log;
};
