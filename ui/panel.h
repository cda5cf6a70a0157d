#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

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
