#pragma once

#include <QColor>
#include <QWidget>

// A ring two pixels wide just outside whichever control of the window has the keyboard focus, drawn over the
// window's controls and passing every click through.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 2;

    explicit FocusRing(QWidget *window);
    QColor colour() const { return m_colour; }
    void setColour(const QColor &colour);
    // The control the ring is around; null while the focus is outside the window.
    QWidget *target() const { return m_target; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void follow(QWidget *now);

    QColor m_colour;
    QWidget *m_target = nullptr;
};
