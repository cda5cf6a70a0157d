#include "module_window.h"

#include "accessible_texts.h"
#include "button_pictures.h"
#include "contrast.h"
#include "focus_ring.h"
#include "line_settings.h"
#include "window_platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolTip>
#include <qdrawutil.h>

namespace {

constexpr int kComboItemHeight = 20;
constexpr std::uint32_t kMakerPurple = 0x800080;

// The first family present is used; the CJK family supplies the Chinese glyphs where the others have none.
// The width is set on every font, so none takes it over from the window's font.
QFont makeFont(const QStringList &families, QFont::StyleHint hint, int pixels, bool bold)
{
    QFont font(families.first());
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStretch(QFont::Unstretched);
    return font;
}

QFont sansFont(int pixels, bool bold)
{
    QFont font = makeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                           QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                           QStringLiteral("WenQuanYi Micro Hei")},
                          QFont::SansSerif, pixels, bold);
    // Liberation Sans has Arial's widths, near the platform's own sans serif. Without it, bold DejaVu Sans is wider
    // than the face the layout was drawn for; semi-condensed, it keeps nearer to the room the panels give.
    if (bold && QFontInfo(font).family().startsWith(QLatin1String("DejaVu")))
        font.setStretch(QFont::SemiCondensed);
    return font;
}

QFont microsoftSansFont(int pixels)
{
    return makeFont({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("MS Sans Serif"),
                     QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                     QStringLiteral("WenQuanYi Micro Hei")},
                    QFont::SansSerif, pixels, false);
}

QFont serifFont(int pixels, bool bold)
{
    QFont font = makeFont({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                           QStringLiteral("DejaVu Serif"), QStringLiteral("WenQuanYi Micro Hei")},
                          QFont::Serif, pixels, bold);
    // Liberation Serif has the widths of Times New Roman. DejaVu Serif, where it is missing, is far wider; its
    // condensed face comes nearer.
    if (QFontInfo(font).family().startsWith(QLatin1String("DejaVu")))
        font.setStretch(QFont::Condensed);
    return font;
}

QColor colourFromBgr(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// The colours of the roles the window is drawn with, each text readable on its background: the system's
// colours where they give 4.5 : 1, else the same hue darker or lighter as far as needed (the classic desktop's
// highlight and caption are dark blues, and yellow or white on them reads well; a light modern highlight
// does not).
struct WindowColours {
    QColor face;       // window and buttons
    QColor faceText;   // label and button captions
    QColor buttonText;
    QColor red;        // the language buttons' captions and characters
    QColor highlight;  // behind the yellow information
    QColor caption;    // behind the white status
    QColor focus;      // the focus ring, on the face
};

// The colours a push button's face is drawn in by the style, top to bottom: styles shade it, lighter or darker
// than the palette's button colour.
QList<QColor> buttonShades(const QPalette &palette)
{
    QPushButton probe;
    probe.setPalette(palette);
    probe.resize(60, 24);
    const QImage face = probe.grab().toImage();
    QList<QColor> shades{palette.color(QPalette::Active, QPalette::Button)};
    const int ratio = qRound(face.devicePixelRatio());
    for (int y = 2 * ratio; y < face.height() - 2 * ratio; ++y) {
        const QColor shade = face.pixelColor(face.width() / 2, y);
        if (!shades.contains(shade))
            shades.append(shade);
    }
    return shades;
}

QColor readableOnEvery(QColor text, const QList<QColor> &backgrounds)
{
    // A little to spare: the style shades a pressed, focused or larger button a little differently.
    constexpr double kRatio = kReadableTextRatio + 0.5;
    // Each step only moves the text further from the backgrounds' lightness; two rounds settle it.
    for (int round = 0; round < 2; ++round) {
        for (const QColor &background : backgrounds)
            text = readableText(text, background, kRatio);
    }
    return text;
}

WindowColours windowColours(const QPalette &palette)
{
    const SystemColours system = systemColours(palette);
    WindowColours colours;
    colours.face = system.buttonFace;
    colours.faceText = readableText(palette.color(QPalette::Active, QPalette::WindowText), colours.face);
    QPalette buttonPalette = palette;
    buttonPalette.setColor(QPalette::Button, colours.face);
    const QList<QColor> shades = buttonShades(buttonPalette);
    colours.buttonText = readableOnEvery(palette.color(QPalette::Active, QPalette::ButtonText), shades);
    colours.red = readableOnEvery(QColor(Qt::red), shades);
    colours.highlight = readableBackground(system.highlight, QColor(Qt::yellow));
    colours.caption = readableBackground(system.activeCaption, QColor(Qt::white));
    colours.focus = readableText(palette.color(QPalette::Active, QPalette::Highlight), colours.face,
                                 kReadableGraphicRatio);
    return colours;
}

// The closed list drawn flat in its background colour inside a single sunken border, as the panels are: a
// style's shaded face would lighten the highlight colour under the yellow text.
class FlatComboStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    // The text a few pixels in from the border, so its smoothing never reaches it at any scale.
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        const QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
        return control == CC_ComboBox && sub == SC_ComboBoxEditField ? rect.adjusted(3, 0, -1, 0) : rect;
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        if (control != CC_ComboBox) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        painter->save();
        const QPalette &palette = option->palette;
        const QBrush fill = palette.brush(QPalette::Button);
        qDrawShadePanel(painter, option->rect, palette, true, 1, &fill);
        // The arrow in the text's colour, apart from the text by a line.
        const QRect arrow = subControlRect(CC_ComboBox, option, SC_ComboBoxArrow, widget);
        const QColor ink = palette.color(QPalette::ButtonText);
        painter->setPen(ink);
        painter->drawLine(arrow.topLeft() + QPoint(1, 4), arrow.bottomLeft() + QPoint(1, -4));
        const QPointF centre = QRectF(arrow).center();
        const qreal half = qMin(arrow.width(), arrow.height()) / 4.0;
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(ink);
        painter->drawPolygon(QPolygonF{centre + QPointF(-half, -half / 2), centre + QPointF(half, -half / 2),
                                       centre + QPointF(0, half / 2 + 1)});
        painter->restore();
    }
};

class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kComboItemHeight};
    }
};

Panel *makePanel(QWidget *parent, const char *name, const QRect &geometry, const QString &caption, const QFont &font)
{
    auto *panel = new Panel(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(geometry);
    panel->setText(caption);
    panel->setFont(font);
    return panel;
}

void setColours(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
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

Panel::Panel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void Panel::setInnerBevel(bool on)
{
    m_innerBevel = on;
    // The frame's line, one pixel of border width and the bevel's two lines; the text keeps clear of them.
    // (Margins set here stand in for the frame's own, so they count the frame's line too.)
    const int inset = on ? 1 + 1 + 2 : 0;
    setContentsMargins(inset, inset, inset, inset);
    update();
}

QRect Panel::freeArea() const
{
    constexpr int kGapBeforeChild = 2;
    QRect area = contentsRect();
    for (const QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisibleTo(this) && child->geometry().intersects(area) && child->x() > area.left())
            area.setRight(child->x() - 1 - kGapBeforeChild);
    }
    return area;
}

Panel::Fitted Panel::fitted() const
{
    QRect area = freeArea();
    const QString caption = text();
    Fitted result;
    result.font = font();
    result.text = caption;
    const auto boxOf = [&](const QFontMetrics &metrics, const QString &shown) {
        // The advance, widened by any ink that stands out of it (the overhang of a bold serif "W").
        return QRect(0, 0, metrics.horizontalAdvance(shown), metrics.height())
            .united(metrics.boundingRect(shown).translated(0, metrics.ascent()));
    };
    // A pixel to spare on each side: at a fractional scale the smoothing of the outer strokes spreads.
    area.adjust(1, 0, -1, 0);
    QRect box = boxOf(QFontMetrics(result.font), caption);
    for (int pixels = font().pixelSize() - 1; box.width() > area.width() && pixels >= kMinimumPixels; --pixels) {
        result.font.setPixelSize(pixels);
        box = boxOf(QFontMetrics(result.font), caption);
    }
    if (box.width() > area.width()) {
        const QFontMetrics metrics(result.font);
        result.text = metrics.elidedText(caption, Qt::ElideRight, area.width());
        result.elided = true;
        box = boxOf(metrics, result.text);
    }
    // Centred in the panel as far as the free area allows: a long status slides left of the indicator.
    const int centred = contentsRect().center().x() + 1 - (box.width() + 1) / 2;
    const int left = qMax(area.left(), qMin(centred, area.right() + 1 - box.width()));
    const int top = area.top() + (area.height() - QFontMetrics(result.font).height()) / 2;
    result.box = box.translated(left - box.left(), top);
    result.origin = QPoint(left - box.left(), top + QFontMetrics(result.font).ascent());
    return result;
}

bool Panel::event(QEvent *event)
{
    // A caption cut short is shown whole in the tooltip, above whatever tooltip the panel has of its own.
    if (event->type() == QEvent::ToolTip) {
        const Fitted shown = fitted();
        if (shown.elided) {
            const QString own = toolTip();
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                               own.isEmpty() ? text() : text() + QLatin1Char('\n') + own, this);
            return true;
        }
    }
    return QLabel::event(event);
}

void Panel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The frame around the whole panel: QFrame would draw it around the contents, inside the margins.
    qDrawShadePanel(&painter, rect(), palette(), frameShadow() == QFrame::Sunken, lineWidth());
    if (m_innerBevel) {
        const int inset = lineWidth() + 1;
        qDrawShadeRect(&painter, rect().adjusted(inset, inset, -inset, -inset), palette(), true, 1);
    }
    const Fitted shown = fitted();
    painter.setFont(shown.font);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(shown.origin, shown.text);
}

CircleShape::CircleShape(QWidget *parent) : QWidget(parent) {}

void CircleShape::setBrushColor(const QColor &colour)
{
    if (colour == m_brushColor)
        return;
    m_brushColor = colour;
    update();
}

void CircleShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_brushColor);
    const int diameter = qMin(width(), height()) - 1;
    const QRectF circle((width() - 1 - diameter) / 2.0 + 0.5, (height() - 1 - diameter) / 2.0 + 0.5,
                        diameter, diameter);
    painter.drawEllipse(circle);
}

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
    for (const char *entry : kLineSettingsTable)
        cmbBaudRate->addItem(QString::fromLatin1(entry));
    cmbBaudRate->setItemDelegate(new FixedHeightDelegate(cmbBaudRate));
    cmbBaudRate->setFont(sansFont(16, true));
    auto *comboStyle = new FlatComboStyle;
    comboStyle->setParent(cmbBaudRate);
    cmbBaudRate->setStyle(comboStyle);

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
                         style()->standardIcon(QStyle::SP_DialogCloseButton), smallPicture);

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
    const WindowColours colours = windowColours(m_sourcePalette);
    const QColor yellow(Qt::yellow);
    const QColor white(Qt::white);

    QPalette windowPalette = QGuiApplication::palette();
    windowPalette.setColor(QPalette::Window, colours.face);
    windowPalette.setColor(QPalette::Button, colours.face);
    windowPalette.setColor(QPalette::WindowText, colours.faceText);
    windowPalette.setColor(QPalette::ButtonText, colours.buttonText);
    setPalette(windowPalette);

    for (Panel *panel : {pnSerial, pnVersion, pnCustomer})
        setColours(panel, colours.highlight, yellow);
    setColours(pnMsg, colours.caption, white);
    setColours(pnKAVOR, colourFromBgr(kMakerPurple), white);

    QPalette comboPalette = cmbBaudRate->palette();
    for (QPalette::ColorRole role : {QPalette::Button, QPalette::Base, QPalette::Window})
        comboPalette.setColor(role, colours.highlight);
    for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText})
        comboPalette.setColor(role, yellow);
    comboPalette.setColor(QPalette::Highlight, colours.highlight.darker(150));
    comboPalette.setColor(QPalette::HighlightedText, yellow);
    cmbBaudRate->setPalette(comboPalette);

    QPalette engPalette = btnEng->palette();
    engPalette.setColor(QPalette::ButtonText, colours.red);
    btnEng->setPalette(engPalette);
    btnGB->setIcon(buttonPicture(ButtonPicture::SimplifiedCharacters, colours.red));
    btnBIG5->setIcon(buttonPicture(ButtonPicture::TraditionalCharacters, colours.red));

    m_focusRing->setColour(colours.focus);
}

bool TfrmModule::eventFilter(QObject *watched, QEvent *event)
{
    // The desktop changed its colours (a dark theme switched on, say): the roles are resolved again. The
    // application hears of it; a window with a palette of its own may not.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange
        && QGuiApplication::palette() != m_sourcePalette)
        applyColours();
    return QWidget::eventFilter(watched, event);
}

void TfrmModule::FormCreate()
{
    m_settings.loadSettings();
    removeCloseCommand(*this);
    m_settings.moduleFound = false;
    selectLineSettings(m_settings.lineSettingsIndex);
}

QString TfrmModule::message(Message m) const
{
    return m_messages.text(m, m_settings.languageIndex);
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
    applyAccessibleTexts(*this, m_settings.languageIndex);
}

void TfrmModule::setScanReport(const ScanReport &report)
{
    m_scanReport = report;
    refreshMsgToolTip();
}

void TfrmModule::refreshMsgToolTip()
{
    pnMsg->setToolTip(scanReportLines(m_scanReport, m_settings.languageIndex).join(QLatin1Char('\n')));
}

void TfrmModule::selectLanguage(int index, const QString &name)
{
    m_settings.selectLanguage(index, name);
    m_settings.saveLanguage();
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

// The operation shows its outcome through this view as it goes; the window needs nothing more of its result.
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
    runOperation([this] { m_session.scan(*this); });
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
