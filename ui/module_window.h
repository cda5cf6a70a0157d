#pragma once

#include "message_table.h"
#include "module_session.h"
#include "module_view.h"
#include "panel.h"
#include "settings_store.h"
#include "window_colours.h"

#include <QPalette>
#include <QPointer>
#include <QWidget>

class FocusRing;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTimer;

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
    // The fonts narrowed where the font present is far wider than the faces the layout was drawn for; once the
    // window is on screen (see narrowedWhereWide).
    void narrowWideFonts();
    void FormCreate();
    void selectLanguage(int index, const QString &name);
    QString message(Message m) const;
    void enableWindow(bool on);
    template <class Run> void runOperation(Run run);
    // What the last scan found at each port it tried (empty while a scan runs).
    void setScanReport(const ScanReport &report);
    // The one place pnMsg's tooltip is set: the last scan's line per port, in the current language.
    // The panel shows a caption it had to cut short above these lines.
    void refreshMsgToolTip();

    ModuleSession &m_session;
    const SettingsStore &m_settings;
    const MessageTable &m_messages;

    bool m_operationRunning = false;
    bool m_windowEnabled = true;
    bool m_waitCursor = false;
    bool m_fontsNarrowed = false;
    int m_busyPhase = 0; // the blink timer's one-bit tag, kept between busy periods
    QPointer<QWidget> m_focusBeforeDisable;
    FocusRing *m_focusRing = nullptr;
    QPalette m_sourcePalette; // the application's palette the colours were last resolved from
    WindowColours m_colours;  // resolved from it
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
