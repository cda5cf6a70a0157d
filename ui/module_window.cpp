#include "module_window.h"

#include "accessible_texts.h"
#include "button_pictures.h"
#include "flat_combo_style.h"
#include "focus_ring.h"
#include "line_settings.h"
#include "window_colours.h"
#include "window_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

namespace {

Panel *makePanel(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, const QFont &font)
{
    auto *panel = new Panel(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(geometry);
    panel->setText(caption);
    panel->setFont(font);
    return panel;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry, const QString &caption,
                        const QIcon &icon, const QSize &iconSize)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setIcon(icon);
    button->setIconSize(iconSize);
    // Enter presses the focused button, as on the platform's dialogs.
    button->setAutoDefault(true);
    return button;
}

} // namespace

TfrmModule::TfrmModule(ModuleSession &session, QWidget *parent)
    : QWidget(parent, fixedWindowFlags()),
      m_session(session),
      m_settings(session.settings()),
      m_messages(session.messages())
{
    setObjectName(QStringLiteral("frmModule"));
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    createControls();
    FormCreate();
    m_session.frames().setIdleCallback([this] { processMessages(); });
}

TfrmModule::~TfrmModule()
{
    m_session.frames().setIdleCallback({});
    setWaitCursor(false);
}

void TfrmModule::createControls()
{
    setFont(sansFont(16, true));
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("KAVOR MARDEN-F Module Config"));

    const QSize smallPicture(16, 16);
    const QSize languagePicture(34, 16);

    btnScan = makeButton(this, "btnScan", {8, 78, 345, 33}, QStringLiteral("&Scan Module"),
                         buttonPicture(ButtonPicture::Magnifier), smallPicture);
    btnScan->setAutoDefault(false); // an auto-default button gives up being the default when it loses focus
    btnScan->setDefault(true);

    pnSerial = makePanel(this, "pnSerial", {8, 48, 169, 28}, QStringLiteral("S/N : ________"), sansFont(16, true));

    lblBaudRate = new QLabel(QStringLiteral("Baud Rate :"), this);
    lblBaudRate->setObjectName(QStringLiteral("lblBaudRate"));
    lblBaudRate->setGeometry(8, 125, 153, 22);
    lblBaudRate->setTextFormat(Qt::PlainText);
    lblBaudRate->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblBaudRate->setFont(sansFont(13, false));
    lblBaudRate->setContentsMargins(0, 0, 1, 0); // the colon's smoothing stays inside the label at any scale

    cmbBaudRate = new QComboBox(this);
    cmbBaudRate->setObjectName(QStringLiteral("cmbBaudRate"));
    cmbBaudRate->setGeometry(168, 120, 161, 28);
    cmbBaudRate->setEditable(false);
    // Font and style before the items: a change of either lays the items out again, measuring every text.
    cmbBaudRate->setFont(sansFont(16, true));
    auto *comboStyle = new FlatComboStyle;
    comboStyle->setParent(cmbBaudRate);
    cmbBaudRate->setStyle(comboStyle);
    cmbBaudRate->setItemDelegate(new FixedHeightDelegate(cmbBaudRate));
    for (const char *entry : kLineSettingsTable)
        cmbBaudRate->addItem(QString::fromLatin1(entry));

    btnBaudRate = makeButton(this, "btnBaudRate", {8, 150, 345, 33},
                             QStringLiteral("Set Module &Baud Rate (Reset)"),
                             buttonPicture(ButtonPicture::Telephone), smallPicture);

    pnVersion = makePanel(this, "pnVersion", {184, 48, 169, 28}, QStringLiteral("VER : __.__-__"),
                          sansFont(16, true));

    pnMsg = makePanel(this, "pnMsg", {8, 4, 345, 40}, QStringLiteral("Start Scan Module"), sansFont(16, true));
    pnMsg->setInnerBevel(true);

    shComm = new CircleShape(pnMsg);
    shComm->setObjectName(QStringLiteral("shComm"));
    shComm->setGeometry(310, 8, 23, 20);
    shComm->setBrushColor(colourFromBgr(kIndicatorRed));

    tmrBusy = new QTimer(this);
    tmrBusy->setObjectName(QStringLiteral("tmrBusy"));
    tmrBusy->setInterval(kBusyIntervalMs);
    connect(tmrBusy, &QTimer::timeout, this, &TfrmModule::tmrBusyTimer);

    btnExit = makeButton(this, "btnExit", {8, 296, 345, 33}, QStringLiteral("&Exit"),
                         standardClosePicture(*style()), smallPicture);

    btnEng = makeButton(this, "btnEng", {7, 264, 106, 24}, QStringLiteral("English"), QIcon(), {});
    btnEng->setFont(sansFont(13, false));

    // Their pictures come with the colours.
    btnGB = makeButton(this, "btnGB", {128, 264, 105, 24}, QString(), QIcon(), languagePicture);
    btnBIG5 = makeButton(this, "btnBIG5", {248, 264, 105, 24}, QString(), QIcon(), languagePicture);

    pnCustomer = makePanel(this, "pnCustomer", {8, 192, 345, 28},
                           QStringLiteral("Customer : ******************************"), serifFont(16, true));

    btnClear = makeButton(this, "btnClear", {8, 224, 345, 33}, QStringLiteral("&Clear Customer Register"),
                          buttonPicture(ButtonPicture::Eraser), smallPicture);

    pnKAVOR = makePanel(this, "pnKAVOR", {2, 332, 354, 21}, m_messages.text(Message::CompanyName, 0), microsoftSansFont(11));

    chkLock = new QCheckBox(this);
    chkLock->setObjectName(QStringLiteral("chkLock"));
    chkLock->setGeometry(336, 124, 17, 17);
    chkLock->setChecked(true);

    connect(btnScan, &QPushButton::clicked, this, &TfrmModule::btnScanClick);
    connect(btnBaudRate, &QPushButton::clicked, this, &TfrmModule::btnBaudRateClick);
    connect(btnClear, &QPushButton::clicked, this, &TfrmModule::btnClearClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmModule::btnExitClick);
    connect(btnEng, &QPushButton::clicked, this, &TfrmModule::btnEngClick);
    connect(btnGB, &QPushButton::clicked, this, &TfrmModule::btnGBClick);
    connect(btnBIG5, &QPushButton::clicked, this, &TfrmModule::btnBIG5Click);

    // Panels and the label take no focus (and setTabOrder ignores such widgets), so the chain holds the
    // focusable controls in their tab order.
    const QList<QWidget *> tabOrder{btnScan, cmbBaudRate, btnBaudRate, btnExit, btnEng,
                                    btnGB,   btnBIG5,     btnClear,    chkLock};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    m_focusRing = new FocusRing(this);
    btnScan->setFocus(Qt::OtherFocusReason);
    applyColours();
    qApp->installEventFilter(this);
}

void TfrmModule::applyColours()
{
    m_sourcePalette = QGuiApplication::palette();
    m_colours = windowColours(m_sourcePalette);
    const WindowColours &colours = m_colours;
    const QColor yellow(Qt::yellow);
    const QColor white(Qt::white);

    setPalette(facePalette(m_sourcePalette, colours));

    for (Panel *panel : {pnSerial, pnVersion, pnCustomer})
        setPanelColours(*panel, colours.highlight, yellow);
    setPanelColours(*pnMsg, colours.caption, white);
    setPanelColours(*pnKAVOR, colourFromBgr(kMakerPurple), white);

    cmbBaudRate->setPalette(listPalette(cmbBaudRate->palette(), m_sourcePalette, colours));

    QPalette engPalette = btnEng->palette();
    setTextColour(engPalette, QPalette::ButtonText, colours.red, colours.face, m_sourcePalette);
    btnEng->setPalette(engPalette);
    btnGB->setIcon(buttonPicture(ButtonPicture::SimplifiedCharacters, colours.red));
    btnBIG5->setIcon(buttonPicture(ButtonPicture::TraditionalCharacters, colours.red));

    m_focusRing->setColour(colours.focus);
    // The scan report and a caption cut short are read in tooltips.
    QToolTip::setPalette(toolTipPalette(QToolTip::palette(), colours));
}

void TfrmModule::narrowWideFonts()
{
    for (QWidget *widget : std::initializer_list<QWidget *>{this, lblBaudRate, cmbBaudRate, btnEng, pnSerial, pnVersion,
                                                           pnMsg, pnCustomer, pnKAVOR}) {
        const QFont narrowed = narrowedWhereWide(widget->font());
        if (narrowed != widget->font())
            widget->setFont(narrowed);
    }
}

bool TfrmModule::eventFilter(QObject *watched, QEvent *event)
{
    // On screen for the first time: the fonts are settled before the first paint.
    if (watched == windowHandle() && event->type() == QEvent::Expose && !m_fontsNarrowed) {
        m_fontsNarrowed = true;
        windowHandle()->removeEventFilter(this);
        narrowWideFonts();
    }
    // The desktop changed its colours (a dark theme switched on, say): the roles are resolved again. The
    // application hears of it; a window with a palette of its own may not.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange
        && QGuiApplication::palette() != m_sourcePalette)
        applyColours();
    // A tooltip (the scan report, a caption cut short), polished by its style by now: readable on its panel.
    if (event->type() == QEvent::Show && watched->isWidgetType() && watched->inherits("QTipLabel"))
        fitToolTipText(*static_cast<QWidget *>(watched), m_colours);
    return QWidget::eventFilter(watched, event);
}

void TfrmModule::FormCreate()
{
    // The stored settings, and no module found yet.
    m_session.loadSettings();
    removeCloseCommand(*this);
    selectLineSettings(m_settings.lineSettingsIndex());
}

QString TfrmModule::message(Message m) const
{
    return m_messages.text(m, m_settings.languageIndex());
}

void TfrmModule::FormShow()
{
    setWindowTitle(message(Message::Title));
    pnKAVOR->setText(message(Message::CompanyName));
    pnMsg->setText(message(Message::ScanFirst));
    pnSerial->setText(message(Message::SerialNumber) + kSerialPlaceholder);
    pnVersion->setText(message(Message::Version) + kVersionPlaceholder);
    pnCustomer->setText(message(Message::Customer) + kCustomerPlaceholder);
    lblBaudRate->setText(message(Message::BaudRate) + QLatin1Char(':'));
    btnScan->setText(message(Message::ScanModule));
    btnBaudRate->setText(message(Message::SetBaudRateButton));
    btnExit->setText(message(Message::Exit));
    btnClear->setText(message(Message::ClearButton));
    refreshMsgToolTip();
    applyAccessibleTexts(*this, m_settings.languageIndex());
}

void TfrmModule::setScanReport(const ScanReport &report)
{
    m_scanReport = report;
    refreshMsgToolTip();
}

void TfrmModule::refreshMsgToolTip()
{
    pnMsg->setToolTip(scanReportLines(m_scanReport, m_settings.languageIndex()).join(QLatin1Char('\n')));
}

void TfrmModule::selectLanguage(int index, const QString &name)
{
    m_session.selectLanguage(index, name);
    FormShow();
}

void TfrmModule::btnEngClick()
{
    selectLanguage(0, QStringLiteral("English"));
}

void TfrmModule::btnGBClick()
{
    selectLanguage(1, QStringLiteral("ChineseGB"));
}

void TfrmModule::btnBIG5Click()
{
    selectLanguage(2, QStringLiteral("ChineseBIG5"));
}

// The operation shows its outcome through this view as it goes.
template <class Run> void TfrmModule::runOperation(Run run)
{
    if (m_operationRunning)
        return;
    m_operationRunning = true;
    run();
    m_operationRunning = false;
}

void TfrmModule::btnScanClick()
{
    runOperation([this] {
        setScanReport({});
        setScanReport(m_session.scan(*this).report);
    });
}

void TfrmModule::btnBaudRateClick()
{
    runOperation([this] { m_session.changeBaudRate(*this); });
}

void TfrmModule::btnClearClick()
{
    runOperation([this] { m_session.clearCustomerRegister(*this); });
}

void TfrmModule::btnExitClick()
{
    close();
}

void TfrmModule::tmrBusyTimer()
{
    if (m_busyPhase == 1) {
        m_busyPhase = 0;
        fillIndicator(kIndicatorYellow);
    } else {
        m_busyPhase = 1;
        fillIndicator(kIndicatorRed);
    }
}

void TfrmModule::setPanelText(InfoPanel panel, const QString &text)
{
    switch (panel) {
    case InfoPanel::Msg:
        pnMsg->setText(text);
        break;
    case InfoPanel::Serial:
        pnSerial->setText(text);
        break;
    case InfoPanel::Version:
        pnVersion->setText(text);
        break;
    case InfoPanel::Customer:
        pnCustomer->setText(text);
        break;
    }
}

void TfrmModule::fillIndicator(std::uint32_t colour)
{
    shComm->setBrushColor(colourFromBgr(colour));
}

void TfrmModule::beep(int frequencyHz, int durationMs)
{
    m_session.tones().play(frequencyHz, durationMs);
}

void TfrmModule::selectLineSettings(int index)
{
    // An index that names no entry leaves the list without a selection.
    cmbBaudRate->setCurrentIndex(index >= 0 && index < cmbBaudRate->count() ? index : -1);
}

int TfrmModule::selectedLineSettings() const
{
    return cmbBaudRate->currentIndex();
}

bool TfrmModule::lockChecked() const
{
    return chkLock->isChecked();
}

void TfrmModule::setBusy(bool on)
{
    if (on) {
        tmrBusy->start();
        enableWindow(false);
    } else {
        enableWindow(true);
        tmrBusy->stop();
    }
}

void TfrmModule::setWaitCursor(bool on)
{
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmModule::setWindowEnabled(bool on)
{
    enableWindow(on);
}

void TfrmModule::processMessages()
{
    // All events, input included: the disabled window drops input now instead of it being replayed later.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TfrmModule::enableWindow(bool on)
{
    if (on == m_windowEnabled)
        return;
    if (on) {
        // Input that queued up during a blocking pause reaches the still disabled window and is dropped.
        processMessages();
        m_windowEnabled = true;
        setEnabled(true);
        // Disabling took the focus away; give it back to the control that had it.
        if (m_focusBeforeDisable && m_focusBeforeDisable->isEnabled())
            m_focusBeforeDisable->setFocus(Qt::OtherFocusReason);
        m_focusBeforeDisable = nullptr;
    } else {
        m_focusBeforeDisable = focusWidget();
        m_windowEnabled = false;
        setEnabled(false);
    }
}

void TfrmModule::showEvent(QShowEvent *event)
{
    // Restoring from the task bar is spontaneous; only showing the window writes the captions.
    if (!event->spontaneous())
        FormShow();
    if (!m_fontsNarrowed && windowHandle())
        windowHandle()->installEventFilter(this);
    QWidget::showEvent(event);
}

void TfrmModule::closeEvent(QCloseEvent *event)
{
    // An operation runs to its end: the window manager's close request waits for nobody and is refused.
    if (m_operationRunning)
        event->ignore();
    else
        event->accept();
}

void TfrmModule::keyPressEvent(QKeyEvent *event)
{
    // Enter that no focused control took presses the default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && btnScan->isEnabled()) {
        btnScan->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
