#include "flat_combo_style.h"

#include <QPainter>
#include <QStyleOptionComplex>
#include <qdrawutil.h>

// The text a few pixels in from the border, so its smoothing never reaches it at any scale.
QRect FlatComboStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                                     const QWidget *widget) const
{
    const QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
    return control == CC_ComboBox && sub == SC_ComboBoxEditField ? rect.adjusted(3, 0, -1, 0) : rect;
}

void FlatComboStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                        QPainter *painter, const QWidget *widget) const
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

QSize FixedHeightDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
}
