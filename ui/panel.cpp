#include "panel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>
#include <qdrawutil.h>

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

namespace {

// A panel's texts are plain text, tooltips included: a tooltip that Qt would take for rich text (a program's
// name such as "<h1>BIG</h1>" on its first line) is shown as it is written, each line on a line of its own.
QString plainToolTip(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

} // namespace

bool Panel::event(QEvent *event)
{
    // A caption cut short is shown whole in the tooltip, above whatever tooltip the panel has of its own.
    if (event->type() == QEvent::ToolTip) {
        const QString own = toolTip();
        const QString tip = !fitted().elided ? own : own.isEmpty() ? text() : text() + QLatin1Char('\n') + own;
        if (!tip.isEmpty()) {
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), plainToolTip(tip), this, QRect(),
                               toolTipDuration());
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
