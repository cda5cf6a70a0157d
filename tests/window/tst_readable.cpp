// Every text the window can show, in every language and under light, dark and high-contrast palettes, read back
// from the rendered pixels: it lies inside its control's free area (never under the indicator) and stands out
// from its background by at least 4.5 : 1. Run once per scale (QT_SCALE_FACTOR 1, 1.5 and 2, set by CTest).
// Also: the captions greyed while the window is busy, accessible names and descriptions in each language, the focus
// ring, sharp pictures.
#include "accessible_texts.h"
#include "button_pictures.h"
#include "contrast.h"
#include "focus_ring.h"
#include "line_settings.h"
#include "message_table.h"
#include "module_window.h"
#include "test_support.h"
#include "window_fixture.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <memory>
#include <optional>

namespace {

const QColor kYellow(255, 255, 0);

// A pixel counts as ink when it stands out from the background this much: more than a style's shading.
constexpr double kInkRatio = 1.5;

const MessageTable &messageTable()
{
    static const MessageTable table;
    return table;
}

// The device pixels wholly inside a logical rectangle; at a fractional scale one less on each side, where the
// smoothing of a line drawn beside the rectangle may reach in.
QRect toDevice(const QRect &logical, qreal ratio)
{
    const QRectF scaled(logical.x() * ratio, logical.y() * ratio, logical.width() * ratio, logical.height() * ratio);
    const QRect inner(QPoint(qCeil(scaled.left()), qCeil(scaled.top())),
                      QPoint(qFloor(scaled.right()) - 1, qFloor(scaled.bottom()) - 1));
    const bool fractional = !qFuzzyCompare(ratio, qreal(qRound(ratio)));
    return fractional ? inner.adjusted(1, 1, -1, -1) : inner;
}

// The control as it paints itself at the screen's pixel density, without the controls inside it.
QImage render(QWidget *widget)
{
    const qreal ratio = widget->devicePixelRatioF();
    QImage image(widget->size() * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    image.setDevicePixelRatio(1.0);
    return image;
}

// What the pixels of one text show.
struct Reading {
    QColor background;  // the commonest colour of the area
    QRect ink;          // the box of every pixel that stands out from it (device pixels)
    QColor text;        // the ink pixel that stands out most
    double ratio = 0.0; // text against background
};

// area: where ink is searched; its edge, where the text must not reach, gives the background (a style may shade
// it from top to bottom). skip: columns left out of the text's colour (a button's picture).
Reading read(const QImage &image, const QRect &area, int skipFrom = -1, int skipTo = -1, bool sidesOnly = false)
{
    QHash<QRgb, int> counts;
    QList<QColor> edge;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const bool side = x == area.left() || x == area.right();
            if (side || (!sidesOnly && (y == area.top() || y == area.bottom()))) {
                ++counts[image.pixel(x, y)];
                edge.append(QColor::fromRgb(image.pixel(x, y)));
            }
        }
    }
    Reading r;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            r.background = QColor::fromRgb(it.key());
        }
    }
    double strongest = 0.0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = QColor::fromRgb(image.pixel(x, y));
            const double ratio = contrastRatio(pixel, r.background);
            if (ratio < kInkRatio)
                continue;
            r.ink |= QRect(x, y, 1, 1);
            if (x >= skipFrom && x < skipTo)
                continue;
            if (ratio > strongest) {
                strongest = ratio;
                r.text = pixel;
            }
        }
    }
    // The text against the part of the background it stands out from least.
    r.ratio = strongest;
    for (const QColor &ground : edge) {
        if (contrastRatio(ground, r.background) < kInkRatio && contrastRatio(r.text, ground) < r.ratio) {
            r.ratio = contrastRatio(r.text, ground);
            r.background = ground;
        }
    }
    return r;
}

QString describe(const QString &what, const Reading &r, const QRect &free)
{
    return QStringLiteral("%1: ink %2,%3 %4x%5 in free %6,%7 %8x%9; text %10 on %11 = %12 : 1")
        .arg(what)
        .arg(r.ink.x())
        .arg(r.ink.y())
        .arg(r.ink.width())
        .arg(r.ink.height())
        .arg(free.x())
        .arg(free.y())
        .arg(free.width())
        .arg(free.height())
        .arg(r.text.name(), r.background.name())
        .arg(r.ratio, 0, 'f', 2);
}

// The printable ASCII character drawn widest in the font.
QChar widestCharacter(const QFont &font)
{
    const QFontMetrics metrics(font);
    QChar widest(u'W');
    for (char16_t c = 0x21; c < 0x7F; ++c) {
        if (metrics.horizontalAdvance(QChar(c)) > metrics.horizontalAdvance(widest))
            widest = QChar(c);
    }
    return widest;
}

QString message(int k, int language)
{
    return messageTable().text(k, language);
}

// Every status text of the operations in one language, ports 1 to 16 and the largest a store can hold.
QStringList statusTexts(int language)
{
    QStringList texts{message(2, language), QStringLiteral("Start Scan Module"),
                      message(11, language) + QStringLiteral(" ...."), message(18, language),
                      message(20, language), message(21, language), message(24, language),
                      message(25, language)};
    QList<int> ports;
    for (int p = 1; p <= 16; ++p)
        ports.append(p);
    ports.append(2147483647);
    for (int p : ports) {
        texts.append(message(15, language) + QStringLiteral(" : #") + QString::number(p));
        for (int k : {16, 17})
            texts.append(message(k, language) + QStringLiteral(" : #") + QString::number(p) + QLatin1Char(')'));
    }
    for (const char *settings : kLineSettingsTable)
        texts.append(message(19, language) + QStringLiteral(" = ") + QLatin1String(settings));
    return texts;
}

} // namespace

class TestReadable : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void contrastMaths();
    void colourRoles_data();
    void colourRoles();
    void followsPaletteChange();
    void everyTextFitsAndReads_data();
    void everyTextFitsAndReads();
    void tooLongEvenAtNinePixels();
    void toolTipReads_data();
    void toolTipReads();
    void toolTipShowsAProgramsNameAsWritten();
    void busyCaptionsRecede_data();
    void busyCaptionsRecede();
    void accessibleTexts();
    void focusRing_data();
    void focusRing();
    void sharpPictures();

private:
    TfrmModule &showWindow(const QString &palette, int language);
    void checkPanel(Panel *panel, const QString &text);
    void checkArea(QWidget *control, const QRect &free, const QString &what, int skipFrom = -1, int skipTo = -1,
                   bool sidesOnly = false);

    std::unique_ptr<WindowFixture<ScopedConfigHome>> m_fixture;
};

void TestReadable::init()
{
    m_fixture = std::make_unique<WindowFixture<ScopedConfigHome>>();
    QVERIFY(m_fixture->sandbox.isValid());
    m_fixture->sandbox.linkAllPortsToNothing();
}

void TestReadable::cleanup()
{
    m_fixture.reset();
}

TfrmModule &TestReadable::showWindow(const QString &palette, int language)
{
    m_fixture->palette.use(palette);
    static const char *names[] = {"English", "ChineseGB", "ChineseBIG5"};
    QSettings stored(m_fixture->sandbox.settingsFile(), QSettings::IniFormat);
    stored.setValue(QStringLiteral("LanguageFlag"), QLatin1String(names[language]));
    stored.sync();
    m_fixture->tool.create().show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(m_fixture->tool.window.get())); }();
    return *m_fixture->tool.window;
}

// sidesOnly: the area's left and right edges bound the text and give its background (a button's bevel above and
// below is shaded by the style).
void TestReadable::checkArea(QWidget *control, const QRect &free, const QString &what, int skipFrom, int skipTo,
                             bool sidesOnly)
{
    const qreal ratio = control->devicePixelRatioF();
    const QImage image = render(control);
    const QRect freeDevice = toDevice(free, ratio);
    const Reading r = read(image, freeDevice, skipFrom, skipTo, sidesOnly);
    const QString report = describe(what, r, freeDevice);
    QVERIFY2(!r.ink.isEmpty(), qPrintable(report));
    // Ink touching the area's edge would go on beyond it.
    if (sidesOnly)
        QVERIFY2(r.ink.left() > freeDevice.left() && r.ink.right() < freeDevice.right(), qPrintable(report));
    else
        QVERIFY2(freeDevice.adjusted(1, 1, -1, -1).contains(r.ink), qPrintable(report));
    QVERIFY2(r.ratio >= kReadableTextRatio, qPrintable(report));
}

void TestReadable::checkPanel(Panel *panel, const QString &text)
{
    QCOMPARE(panel->text(), text);
    const qreal ratio = panel->devicePixelRatioF();
    const QImage image = render(panel);
    // Background and ink over the whole inside of the border; the text must keep to the free area in it.
    const QRect inside = toDevice(panel->contentsRect(), ratio);
    const QRect free = toDevice(panel->freeArea(), ratio);
    const Reading r = read(image, inside);
    const QString report = describe(panel->objectName() + QStringLiteral(" \"") + text + QLatin1Char('"'), r, free);
    QVERIFY2(!r.ink.isEmpty(), qPrintable(report));
    QVERIFY2(free.contains(r.ink) && inside.adjusted(1, 1, -1, -1).contains(r.ink), qPrintable(report));
    if (auto *indicator = panel->findChild<QWidget *>(QStringLiteral("shComm")))
        QVERIFY2(!r.ink.intersects(toDevice(indicator->geometry(), ratio)), qPrintable(report));
    QVERIFY2(r.ratio >= kReadableTextRatio, qPrintable(report));
    // Whole, at 9 pixels or more.
    const Panel::Fitted shown = panel->fitted();
    QVERIFY2(!shown.elided && shown.text == text, qPrintable(report));
    QVERIFY2(shown.font.pixelSize() >= Panel::kMinimumPixels, qPrintable(report));
    QVERIFY2(QFontMetrics(shown.font).horizontalAdvance(text) <= panel->freeArea().width(), qPrintable(report));
}

void TestReadable::contrastMaths()
{
    // Known values: black on white 21 : 1, a colour on itself 1 : 1, yellow on navy 14.9 : 1.
    QCOMPARE(qRound(contrastRatio(Qt::black, Qt::white) * 100), 2100);
    QCOMPARE(contrastRatio(QColor(48, 140, 198), QColor(48, 140, 198)), 1.0);
    QCOMPARE(qRound(contrastRatio(kYellow, QColor(0, 0, 128)) * 10), 149);
    // Grey 118 on white is the classic just-passing 4.5 : 1, grey 119 just fails.
    QVERIFY(contrastRatio(QColor(118, 118, 118), Qt::white) >= 4.5);
    QVERIFY(contrastRatio(QColor(119, 119, 119), Qt::white) < 4.5);

    // A colour that reads well is kept; one that does not moves only as far as needed, keeping its hue.
    const QColor navy(0, 0, 128);
    QCOMPARE(readableBackground(navy, kYellow), navy);
    const QColor light(48, 140, 198);
    const QColor darker = readableBackground(light, kYellow);
    QVERIFY(contrastRatio(darker, kYellow) >= 4.5);
    QVERIFY(contrastRatio(darker.lighter(103), kYellow) < 4.6);
    QVERIFY(qAbs(darker.hslHue() - light.hslHue()) <= 2);
    QVERIFY(darker.lightness() < light.lightness());
    // Dark text wants a lighter background. Text of middle grey, a little lighter than the background, is not
    // reached by black: the background goes light instead.
    QVERIFY(readableBackground(QColor(20, 20, 60), Qt::black).lightness() > 60);
    const QColor behindGrey = readableBackground(QColor(100, 100, 100), QColor(110, 110, 110));
    QVERIFY(contrastRatio(behindGrey, QColor(110, 110, 110)) >= 4.5 && behindGrey.lightness() > 200);

    // Text: red darkens on white, lightens on near black, stays on black.
    const QColor onWhite = readableText(Qt::red, Qt::white);
    QVERIFY(contrastRatio(onWhite, Qt::white) >= 4.5 && onWhite.lightness() < 128 && onWhite.hslHue() == 0);
    const QColor onDark = readableText(Qt::red, QColor(53, 53, 53));
    QVERIFY(contrastRatio(onDark, QColor(53, 53, 53)) >= 4.5 && onDark.lightness() > 128 && onDark.hslHue() == 0);
    QCOMPARE(readableText(Qt::red, Qt::black), QColor(Qt::red));
}

void TestReadable::colourRoles_data()
{
    QTest::addColumn<QString>("palette");
    for (const char *name : {"style", "dark", "high contrast black", "high contrast white"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestReadable::colourRoles()
{
    // The look stays: yellow on a blue like the highlight, white on the caption, the maker's purple.
    QFETCH(QString, palette);
    TfrmModule &window = showWindow(palette, 0);
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    for (const char *name : {"pnSerial", "pnVersion", "pnCustomer", "cmbBaudRate"}) {
        auto *control = window.findChild<QWidget *>(QLatin1String(name));
        const QColor background =
            control->palette().color(QPalette::Active, qobject_cast<QComboBox *>(control) ? QPalette::Button
                                                                                          : QPalette::Window);
        QVERIFY2(contrastRatio(background, kYellow) >= kReadableTextRatio, name);
        if (contrastRatio(highlight, kYellow) >= kReadableTextRatio)
            QCOMPARE(background, highlight.toRgb()); // the system's own where it reads well
        else
            QVERIFY2(qAbs(background.hslHue() - highlight.hslHue()) <= 3, name);
    }
    auto *list = window.findChild<QComboBox *>(QStringLiteral("cmbBaudRate"));
    const QPalette listPalette = list->view()->palette();
    QVERIFY(contrastRatio(listPalette.color(QPalette::Text), listPalette.color(QPalette::Base)) >= 4.5);
    QVERIFY(contrastRatio(listPalette.color(QPalette::HighlightedText), listPalette.color(QPalette::Highlight))
            >= 4.5);

    auto *pnMsg = window.findChild<QWidget *>(QStringLiteral("pnMsg"));
    QCOMPARE(pnMsg->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(contrastRatio(pnMsg->palette().color(QPalette::Window), Qt::white) >= kReadableTextRatio);

    // The language captions stay red: the hue is kept, only its lightness moves.
    auto *btnEng = window.findChild<QPushButton *>(QStringLiteral("btnEng"));
    const QColor red = btnEng->palette().color(QPalette::ButtonText);
    QVERIFY2(red.hslHue() == 0 && red.hslSaturation() > 200, qPrintable(red.name()));
}

void TestReadable::followsPaletteChange()
{
    // The desktop turns dark while the tool runs: the window takes the colours it would have started with.
    const auto roles = [](TfrmModule &window) {
        QStringList seen;
        for (const char *name : {"frmModule", "pnSerial", "pnMsg", "cmbBaudRate", "btnEng"}) {
            QWidget *widget = window.objectName() == QLatin1String(name)
                ? &window
                : window.findChild<QWidget *>(QLatin1String(name));
            for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Button,
                                             QPalette::ButtonText})
                seen.append(widget->palette().color(QPalette::Active, role).name());
        }
        seen.append(window.findChild<FocusRing *>()->colour().name());
        return seen;
    };
    TfrmModule &first = showWindow(QStringLiteral("style"), 0);
    const QStringList light = roles(first);
    QApplication::setPalette(darkPalette());
    const QStringList changed = roles(first);
    QVERIFY(changed != light);
    m_fixture->tool.window.reset();
    TfrmModule &second = showWindow(QStringLiteral("dark"), 0);
    QCOMPARE(changed, roles(second));
}

void TestReadable::everyTextFitsAndReads_data()
{
    QTest::addColumn<QString>("palette");
    QTest::addColumn<int>("language");
    const char *languages[] = {"English", "ChineseGB", "ChineseBIG5"};
    for (const char *palette : {"style", "dark", "high contrast black", "high contrast white"}) {
        for (int language = 0; language < 3; ++language)
            QTest::addRow("%s, %s", palette, languages[language]) << QString::fromLatin1(palette) << language;
    }
}

void TestReadable::everyTextFitsAndReads()
{
    QFETCH(QString, palette);
    QFETCH(int, language);
    TfrmModule &window = showWindow(palette, language);
    const auto panel = [&](const char *name) { return window.findChild<Panel *>(QLatin1String(name)); };

    // The status panel: every text of the operations.
    window.setPanelText(InfoPanel::Msg, message(2, language)); // as shown
    for (const QString &text : statusTexts(language)) {
        window.setPanelText(InfoPanel::Msg, text);
        checkPanel(panel("pnMsg"), text);
        if (QTest::currentTestFailed())
            return;
    }

    // The module's values: placeholders, the widest characters, capitals with digits.
    const QChar wideSans = widestCharacter(panel("pnSerial")->font());
    const QChar wideSerif = widestCharacter(panel("pnCustomer")->font());
    const struct {
        InfoPanel which;
        const char *name;
        int title;
        QStringList values;
    } values[] = {
        {InfoPanel::Serial, "pnSerial", 12,
         {QStringLiteral("________"), QString(8, u'W'), QString(8, wideSans), QStringLiteral("12345678")}},
        {InfoPanel::Version, "pnVersion", 14,
         {QStringLiteral("__.__-__"), QString(8, u'W'), QString(8, wideSans), QStringLiteral("03.20-01")}},
        {InfoPanel::Customer, "pnCustomer", 22,
         {QString(30, u'*'), QString(30, u'W'), QString(30, wideSerif),
          QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"), QStringLiteral("DEMO CUSTOMER REGISTER 0000001")}},
    };
    for (const auto &row : values) {
        for (const QString &value : row.values) {
            const QString text = message(row.title, language) + QStringLiteral(" : ") + value;
            window.setPanelText(row.which, text);
            checkPanel(panel(row.name), text);
            if (QTest::currentTestFailed())
                return;
        }
    }
    checkPanel(panel("pnKAVOR"), message(0, language));

    // The label, inside its own box.
    auto *label = window.findChild<QLabel *>(QStringLiteral("lblBaudRate"));
    checkArea(label, label->rect(), QStringLiteral("lblBaudRate"));

    // The list: each of the twelve line settings in its field, clear of the arrow.
    auto *list = window.findChild<QComboBox *>(QStringLiteral("cmbBaudRate"));
    for (int i = 0; i < list->count(); ++i) {
        list->setCurrentIndex(i);
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = false;
        option.currentText = list->currentText();
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        // Less the rows the border's smoothing reaches at a fractional scale; the style starts the text at the
        // field's left edge, so the background is read a pixel left of it.
        checkArea(list, field.adjusted(-1, 1, 0, -1), list->currentText());
        if (QTest::currentTestFailed())
            return;
    }

    // The buttons: caption and picture inside the contents, the caption's colour read beside the picture.
    window.findChild<QCheckBox *>(QStringLiteral("chkLock"))->setFocus(); // no button shows its focus frame
    for (const char *name : {"btnScan", "btnBaudRate", "btnClear", "btnExit", "btnEng", "btnGB", "btnBIG5"}) {
        auto *button = window.findChild<QPushButton *>(QLatin1String(name));
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        // Inside the bevel of the button.
        const int bevel = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button) + 1;
        const QRect contents = button->style()
                                   ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                                   .adjusted(bevel, bevel, -bevel, -bevel);
        int skipFrom = -1;
        int skipTo = -1;
        if (!button->text().isEmpty() && !button->icon().isNull()) {
            const qreal ratio = button->devicePixelRatioF();
            const Reading whole = read(render(button), toDevice(contents, ratio), -1, -1, true);
            skipFrom = whole.ink.left();
            skipTo = skipFrom + qCeil(button->iconSize().width() * ratio);
        }
        checkArea(button, contents, QLatin1String(name) + QLatin1Char(' ') + button->text(), skipFrom, skipTo, true);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestReadable::busyCaptionsRecede_data()
{
    QTest::addColumn<QString>("palette");
    for (const char *name : {"style", "dark"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestReadable::busyCaptionsRecede()
{
    // While an operation runs the window is disabled, and the captions of its controls show it: each caption's
    // strongest ink stands out from its background clearly less than when the window is idle (greyed), yet is
    // still there; on the light face it is lighter. The panels stay as they are. Back to idle, back to the same.
    QFETCH(QString, palette);
    TfrmModule &window = showWindow(palette, 0);
    window.findChild<QCheckBox *>(QStringLiteral("chkLock"))->setFocus(); // no button shows its focus frame

    struct Caption {
        QWidget *control;
        QRect area;     // device pixels
        int skipFrom;   // the picture's columns
        int skipTo;
    };
    QList<Caption> captions;
    for (const char *name : {"btnScan", "btnBaudRate", "btnClear", "btnExit", "btnEng"}) {
        auto *button = window.findChild<QPushButton *>(QLatin1String(name));
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        const int bevel = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button) + 1;
        const QRect contents = button->style()
                                   ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                                   .adjusted(bevel, bevel, -bevel, -bevel);
        const qreal ratio = button->devicePixelRatioF();
        const QRect area = toDevice(contents, ratio);
        int skipFrom = -1;
        int skipTo = -1;
        if (!button->icon().isNull()) {
            skipFrom = read(render(button), area, -1, -1, true).ink.left();
            skipTo = skipFrom + qCeil(button->iconSize().width() * ratio);
        }
        captions.append({button, area, skipFrom, skipTo});
    }
    auto *label = window.findChild<QLabel *>(QStringLiteral("lblBaudRate"));
    captions.append({label, toDevice(label->rect(), label->devicePixelRatioF()), -1, -1});
    auto *list = window.findChild<QComboBox *>(QStringLiteral("cmbBaudRate"));
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = false;
    option.currentText = list->currentText();
    const QRect field =
        list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    captions.append({list, toDevice(field.adjusted(-1, 1, 0, -1), list->devicePixelRatioF()), -1, -1});

    // The pixel that stands out most from the commonest colour of the area's sides, and by how much.
    struct Ink {
        QColor text;
        QColor background;
        double ratio = 0.0;
    };
    const auto inkOf = [](const Caption &caption) {
        const QImage image = render(caption.control);
        const Reading sides = read(image, caption.area, caption.skipFrom, caption.skipTo, true);
        Ink ink{QColor(), sides.background, 0.0};
        for (int y = caption.area.top(); y <= caption.area.bottom(); ++y) {
            for (int x = caption.area.left(); x <= caption.area.right(); ++x) {
                if (x >= caption.skipFrom && x < caption.skipTo)
                    continue;
                const QColor pixel = image.pixelColor(x, y);
                if (contrastRatio(pixel, ink.background) > ink.ratio) {
                    ink.ratio = contrastRatio(pixel, ink.background);
                    ink.text = pixel;
                }
            }
        }
        return ink;
    };
    const auto describeInk = [](const Caption &caption, const Ink &idle, const Ink &busy) {
        return QStringLiteral("%1: idle %2 on %3 = %4 : 1, busy %5 on %6 = %7 : 1")
            .arg(caption.control->objectName(), idle.text.name(), idle.background.name())
            .arg(idle.ratio, 0, 'f', 2)
            .arg(busy.text.name(), busy.background.name())
            .arg(busy.ratio, 0, 'f', 2);
    };

    QList<Ink> idle;
    for (const Caption &caption : captions)
        idle.append(inkOf(caption));
    auto *pnSerial = window.findChild<Panel *>(QStringLiteral("pnSerial"));
    const QRect inside = toDevice(pnSerial->contentsRect(), pnSerial->devicePixelRatioF());
    const Reading serialIdle = read(render(pnSerial), inside);

    window.setBusy(true);
    QVERIFY(!window.isEnabled());
    for (int i = 0; i < captions.size(); ++i) {
        const Ink busy = inkOf(captions[i]);
        const QString report = describeInk(captions[i], idle[i], busy);
        QVERIFY2(idle[i].ratio >= kReadableTextRatio, qPrintable(report));
        QVERIFY2(busy.ratio >= 1.3, qPrintable(report)); // greyed, not gone
        QVERIFY2(busy.ratio <= idle[i].ratio / 1.5, qPrintable(report));
        if (palette == QLatin1String("style") && captions[i].control != list)
            QVERIFY2(relativeLuminance(busy.text) > relativeLuminance(idle[i].text) + 0.1, qPrintable(report));
    }
    const Reading serialBusy = read(render(pnSerial), inside);
    QVERIFY(serialBusy.text == serialIdle.text && serialBusy.background == serialIdle.background);

    window.setBusy(false);
    for (int i = 0; i < captions.size(); ++i) {
        const Ink again = inkOf(captions[i]);
        QVERIFY2(again.text == idle[i].text && again.background == idle[i].background,
                 qPrintable(describeInk(captions[i], idle[i], again)));
    }
}

void TestReadable::tooLongEvenAtNinePixels()
{
    // No text of the tool is this long; should one be, it is cut short at 9 px and shown whole in the tooltip,
    // before the panel's own tooltip.
    TfrmModule &window = showWindow(QStringLiteral("style"), 0);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *pnMsg = window.findChild<Panel *>(QStringLiteral("pnMsg"));
    const QString longText = QStringLiteral("Get Module Info Error. ").repeated(4);
    pnMsg->setToolTip(QStringLiteral("COM1: no such port"));
    window.setPanelText(InfoPanel::Msg, longText);
    const Panel::Fitted shown = pnMsg->fitted();
    QVERIFY(shown.elided);
    QCOMPARE(shown.font.pixelSize(), Panel::kMinimumPixels);
    QVERIFY(shown.text.endsWith(QChar(0x2026)));
    QVERIFY(pnMsg->freeArea().contains(shown.box));
    QCOMPARE(pnMsg->text(), longText); // what the operations wrote stays as written

    const QPoint at = pnMsg->rect().center();
    QHelpEvent help(QEvent::ToolTip, at, pnMsg->mapToGlobal(at));
    QApplication::sendEvent(pnMsg, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), longText + QStringLiteral("\nCOM1: no such port"));
    QToolTip::hideText();

    // Short again: the panel's own tooltip alone.
    window.setPanelText(InfoPanel::Msg, message(18, 0));
    QVERIFY(!pnMsg->fitted().elided);
    QCOMPARE(pnMsg->fitted().font.pixelSize(), 16);
}

void TestReadable::toolTipShowsAProgramsNameAsWritten()
{
    // Another program's name is no markup: the scan report's tooltip shows it as it is, each line on its own.
    TfrmModule &window = showWindow(QStringLiteral("style"), 0);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *pnMsg = window.findChild<Panel *>(QStringLiteral("pnMsg"));
    const QString report = QStringLiteral("COM1 (/dev/ttyS0): held by another program (<h1>BIG</h1>, process 4711)\n"
                                          "COM2 (no device): no such port & <b>none</b>");
    pnMsg->setToolTip(report);
    const QPoint at = pnMsg->rect().center();
    QHelpEvent help(QEvent::ToolTip, at, pnMsg->mapToGlobal(at));
    QApplication::sendEvent(pnMsg, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QLabel *tip = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            tip = qobject_cast<QLabel *>(widget);
    }
    QVERIFY(tip);
    // What the label shows: its text as plain text, or the text its markup stands for.
    const bool rich = tip->textFormat() == Qt::RichText
                      || (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text()));
    QTextDocument shown;
    if (rich)
        shown.setHtml(tip->text());
    else
        shown.setPlainText(tip->text());
    QToolTip::hideText();
    QCOMPARE(shown.toPlainText(), report);
    QCOMPARE(pnMsg->toolTip(), report); // kept as the report has it
}

void TestReadable::toolTipReads_data()
{
    // The desktop's tooltip colours (its theme sets them apart from the palette): Qt's own, and two poor ones.
    QTest::addColumn<QString>("palette");
    QTest::addColumn<QColor>("tipBackground");
    QTest::addColumn<QColor>("tipText");
    QTest::newRow("style") << QStringLiteral("style") << QColor() << QColor();
    QTest::newRow("dark") << QStringLiteral("dark") << QColor() << QColor();
    QTest::newRow("grey on white, as wine's") << QStringLiteral("style") << QColor(Qt::white) << QColor(150, 150, 150);
    QTest::newRow("grey on dark grey") << QStringLiteral("dark") << QColor(53, 53, 53) << QColor(100, 100, 100);
}

void TestReadable::toolTipReads()
{
    // The scan report is read in the status panel's tooltip: its text stands out from its background by 4.5 : 1,
    // whatever the desktop's tooltips are.
    QFETCH(QString, palette);
    QFETCH(QColor, tipBackground);
    QFETCH(QColor, tipText);
    const QPalette before = QToolTip::palette();
    const auto putBack = qScopeGuard([&] { QToolTip::setPalette(before); });
    if (tipBackground.isValid()) {
        QPalette desktop = before;
        desktop.setColor(QPalette::ToolTipBase, tipBackground);
        desktop.setColor(QPalette::ToolTipText, tipText);
        QToolTip::setPalette(desktop);
    }
    TfrmModule &window = showWindow(palette, 0);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *pnMsg = window.findChild<Panel *>(QStringLiteral("pnMsg"));
    const QString report = QStringLiteral("COM1 (no device): no such port\nCOM2 (no device): no such port");
    pnMsg->setToolTip(report);
    const QPoint at = pnMsg->rect().center();
    QHelpEvent help(QEvent::ToolTip, at, pnMsg->mapToGlobal(at));
    QApplication::sendEvent(pnMsg, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), report);
    QLabel *tip = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            tip = qobject_cast<QLabel *>(widget);
    }
    QVERIFY(tip);
    const qreal ratio = tip->devicePixelRatioF();
    // Inside the label's border, which the style may draw in the text's colour.
    const QRect inside = toDevice(tip->contentsRect().adjusted(1, 1, -1, -1), ratio);
    const Reading r = read(render(tip), inside);
    QToolTip::hideText();
    const QString said = describe(QStringLiteral("tooltip"), r, inside);
    QVERIFY2(!r.ink.isEmpty(), qPrintable(said));
    QVERIFY2(r.ratio >= kReadableTextRatio, qPrintable(said));
    // The background stays the desktop's.
    if (tipBackground.isValid())
        QVERIFY2(r.background == tipBackground, qPrintable(said));
}

void TestReadable::accessibleTexts()
{
    const QStringList languageNames{QStringLiteral("English"), QStringLiteral("简体中文"),
                                    QStringLiteral("繁體中文")};
    TfrmModule &window = showWindow(QStringLiteral("style"), 0);
    QList<QWidget *> controls{&window};
    for (QWidget *child : window.findChildren<QWidget *>()) {
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
            controls.append(child);
    }
    QCOMPARE(controls.size(), 17); // the window and its sixteen controls

    QHash<QString, QStringList> descriptions;
    const char *buttons[] = {"btnEng", "btnGB", "btnBIG5"};
    for (int language : {1, 2, 0}) {
        window.findChild<QPushButton *>(QLatin1String(buttons[language]))->click();
        QCOMPARE(m_fixture->tool.session.settings().languageIndex(), language);
        for (QWidget *control : controls) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible);
            const QString name = accessible->text(QAccessible::Name);
            const QString description = accessible->text(QAccessible::Description);
            QVERIFY2(!name.trimmed().isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!description.trimmed().isEmpty(), qPrintable(control->objectName()));
            descriptions[control->objectName()].append(description);
        }
        // Each language button in its own language, whatever the window's.
        for (int b = 0; b < 3; ++b) {
            QCOMPARE(QAccessible::queryAccessibleInterface(window.findChild<QWidget *>(QLatin1String(buttons[b])))
                         ->text(QAccessible::Name),
                     languageNames.at(b));
        }
        // The panels are named by what they show, so their names follow the language.
        QCOMPARE(QAccessible::queryAccessibleInterface(window.findChild<QWidget *>(QStringLiteral("pnSerial")))
                     ->text(QAccessible::Name),
                 message(12, language) + QStringLiteral(" : ________"));
    }
    // The lock box is named by what it does, in each language; every description changed with the language.
    for (auto it = descriptions.cbegin(); it != descriptions.cend(); ++it) {
        const QStringList &seen = it.value(); // ChineseGB, ChineseBIG5, English
        QVERIFY2(seen.at(0) != seen.at(2) && seen.at(1) != seen.at(2) && seen.at(0) != seen.at(1),
                 qPrintable(it.key()));
    }
    auto *chkLock = window.findChild<QWidget *>(QStringLiteral("chkLock"));
    QVERIFY(QAccessible::queryAccessibleInterface(chkLock)->text(QAccessible::Name).contains(QStringLiteral("stored")));

    // The table holds a row for every control, none twice.
    int count = 0;
    const AccessibleText *rows = ::accessibleTexts(&count);
    QSet<QString> named;
    for (int i = 0; i < count; ++i)
        named.insert(QLatin1String(rows[i].control));
    QCOMPARE(named.size(), count);
    for (QWidget *control : controls)
        QVERIFY2(named.contains(control->objectName()), qPrintable(control->objectName()));
}

void TestReadable::focusRing_data()
{
    QTest::addColumn<QString>("palette");
    for (const char *name : {"style", "dark", "high contrast white"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestReadable::focusRing()
{
    // Tab goes round every control that takes the focus; each in turn has the ring just outside it, in a colour
    // that stands out from the window by 3 : 1.
    QFETCH(QString, palette);
    TfrmModule &window = showWindow(palette, 0);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QStringList order{QStringLiteral("btnScan"), QStringLiteral("cmbBaudRate"), QStringLiteral("btnBaudRate"),
                            QStringLiteral("btnExit"), QStringLiteral("btnEng"),      QStringLiteral("btnGB"),
                            QStringLiteral("btnBIG5"), QStringLiteral("btnClear"),    QStringLiteral("chkLock")};
    auto *ring = window.findChild<FocusRing *>();
    QVERIFY(ring);
    const QColor face = window.palette().color(QPalette::Window);
    QVERIFY(contrastRatio(ring->colour(), face) >= kReadableGraphicRatio);
    const qreal ratio = window.devicePixelRatioF();
    for (const QString &name : order) {
        QWidget *control = window.findChild<QWidget *>(name);
        QTRY_COMPARE(QApplication::focusWidget(), control);
        QCOMPARE(ring->target(), control);
        QVERIFY(ring->isVisible());
        const QImage shot = window.grab().toImage();
        // Sampled at the middle of each side of the ring, one pixel out from the control.
        const QRect at = control->geometry();
        for (const QPoint &p : {QPoint(at.center().x(), at.top() - 1), QPoint(at.center().x(), at.bottom() + 1),
                                QPoint(at.left() - 1, at.center().y()), QPoint(at.right() + 1, at.center().y())}) {
            const QColor pixel = shot.pixelColor(qFloor((p.x() + 0.5) * ratio), qFloor((p.y() + 0.5) * ratio));
            QVERIFY2(contrastRatio(pixel, face) >= kReadableGraphicRatio,
                     qPrintable(name + QStringLiteral(" ") + pixel.name()));
        }
        QTest::keyClick(control, Qt::Key_Tab);
    }
    // Back to the first; the ring leaves with the focus.
    QTRY_COMPARE(QApplication::focusWidget(), window.findChild<QWidget *>(order.first()));
    window.setWindowEnabled(false);
    QVERIFY(!ring->isVisible());
    window.setWindowEnabled(true);
    QTRY_VERIFY(ring->isVisible());
}

void TestReadable::sharpPictures()
{
    // Drawn anew for each pixel density: at 1.5 and 2 the picture has detail a scaled-up 16-pixel bitmap lacks.
    for (ButtonPicture picture : {ButtonPicture::Magnifier, ButtonPicture::Telephone, ButtonPicture::Eraser,
                                  ButtonPicture::SimplifiedCharacters, ButtonPicture::TraditionalCharacters}) {
        const QIcon icon = buttonPicture(picture);
        const QSize size = designSize(picture);
        const QImage base = icon.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(base.size(), size);
        for (qreal scale : {1.5, 2.0}) {
            const QPixmap sharp = icon.pixmap(size, scale);
            QCOMPARE(sharp.size(), size * scale);
            QCOMPARE(sharp.devicePixelRatio(), scale);
            const QImage drawn = sharp.toImage().convertToFormat(QImage::Format_ARGB32);
            const QImage blurred = base.scaled(drawn.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            // Edges: pixels nearly opaque beside pixels nearly clear. Scaling up smears them over more pixels.
            const auto hardEdges = [](const QImage &image) {
                int edges = 0;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 1; x < image.width(); ++x)
                        edges += qAbs(qAlpha(image.pixel(x, y)) - qAlpha(image.pixel(x - 1, y))) > 200;
                return edges;
            };
            QVERIFY2(hardEdges(drawn) > hardEdges(blurred), qPrintable(QString::number(int(picture))));
        }
    }
}

QTEST_MAIN(TestReadable)
#include "tst_readable.moc"
