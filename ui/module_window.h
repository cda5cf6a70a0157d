#pragma once

#include "message_table.h"
#include "module_session.h"
#include "module_view.h"
#include "settings_store.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QWidget>

class FocusRing;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTimer;

// The round communication indicator; its fill colour is readable as the property "brushColor".
class CircleShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColor READ brushColor)
public:
    explicit CircleShape(QWidget *parent = nullptr);
    QColor brushColor() const { return m_brushColor; }
    void setBrushColor(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_brushColor;
};

// A panel with a single border; the status panel adds a lowered inner bevel one pixel inside it.
// The caption is drawn in the panel's font when it fits the free area (the contents less whatever child, such as
// the indicator, sits in it), else in the largest smaller size that fits down to kMinimumPixels, else cut short
// with "..." and shown whole in the tooltip. text() and font() stay as set.
class Panel : public QLabel {
    Q_OBJECT
public:
    static constexpr int kMinimumPixels = 9;

    struct Fitted {
        QFont font;
        QString text; // as drawn: the caption, or the caption cut short
        QRect box;    // where the text is drawn, the advance and the ink together
        QPoint origin; // the start of the base line
        bool elided = false;
    };

    explicit Panel(QWidget *parent = nullptr);
    bool hasInnerBevel() const { return m_innerBevel; }
    void setInnerBevel(bool on);
    // Where text may go: the contents rectangle, ending before the first child that stands in it.
    QRect freeArea() const;
    Fitted fitted() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_innerBevel = false;
};

// The tool's one window. Controls carry their names as object names (btnScan, pnMsg, ...).
class TfrmModule : public QWidget, public ModuleView {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 359;
    static constexpr int kClientHeight = 353;
    static constexpr int kBusyIntervalMs = 200;

    explicit TfrmModule(ModuleSession &session, QWidget *parent = nullptr);
    ~TfrmModule() override;

    // ModuleView
    void setPanelText(InfoPanel panel, const QString &text) override;
    void fillIndicator(std::uint32_t colour) override;
    void beep(int frequencyHz, int durationMs) override;
    void selectLineSettings(int index) override;
    int selectedLineSettings() const override;
    bool lockChecked() const override;
    void setBusy(bool on) override;
    void setWaitCursor(bool on) override;
    void setWindowEnabled(bool on) override;
    void processMessages() override;
    void setScanReport(const ScanReport &report) override;

    bool operationRunning() const { return m_operationRunning; }
    int busyPhase() const { return m_busyPhase; }

public slots:
    void FormShow();
    void btnScanClick();
    void btnBaudRateClick();
    void btnClearClick();
    void btnExitClick();
    void btnEngClick();
    void btnGBClick();
    void btnBIG5Click();
    void tmrBusyTimer();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    // The colours of every role, from the application's palette; again whenever that changes.
    void applyColours();
    void FormCreate();
    void selectLanguage(int index, const QString &name);
    QString message(Message m) const;
    void enableWindow(bool on);
    template <class Run> void runOperation(Run run);
    // The one place pnMsg's tooltip is set: the last scan's line per port, in the current language.
    // The panel shows a caption it had to cut short above these lines.
    void refreshMsgToolTip();

    ModuleSession &m_session;
    SettingsStore &m_settings;
    const MessageTable &m_messages;

    bool m_operationRunning = false;
    bool m_windowEnabled = true;
    bool m_waitCursor = false;
    int m_busyPhase = 0; // the blink timer's one-bit tag, kept between busy periods
    QPointer<QWidget> m_focusBeforeDisable;
    FocusRing *m_focusRing = nullptr;
    QPalette m_sourcePalette; // the application's palette the colours were last resolved from
    ScanReport m_scanReport;

    // Controls, in declaration order; owned by the window.
    QPushButton *btnScan = nullptr;
    Panel *pnSerial = nullptr;
    QLabel *lblBaudRate = nullptr;
    QComboBox *cmbBaudRate = nullptr;
    QPushButton *btnBaudRate = nullptr;
    Panel *pnVersion = nullptr;
    Panel *pnMsg = nullptr;
    CircleShape *shComm = nullptr;
    QTimer *tmrBusy = nullptr;
    QPushButton *btnExit = nullptr;
    QPushButton *btnEng = nullptr;
    QPushButton *btnGB = nullptr;
    QPushButton *btnBIG5 = nullptr;
    Panel *pnCustomer = nullptr;
    QPushButton *btnClear = nullptr;
    Panel *pnKAVOR = nullptr;
    QCheckBox *chkLock = nullptr;
};
