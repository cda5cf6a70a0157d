#pragma once

#include <QProxyStyle>
#include <QStyledItemDelegate>

// The closed list drawn flat in its background colour inside a single sunken border, as the panels are: a
// style's shaded face would lighten the highlight colour under the yellow text.
class FlatComboStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override;
};

// The open list's rows, each as high as the list's items are drawn.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    static constexpr int kItemHeight = 20;

    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
