#include "focus_ring.h"

#include <QApplication>
#include <QPainter>

FocusRing::FocusRing(QWidget *window) : QWidget(window), m_colour(Qt::black)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { follow(now); });
}

void FocusRing::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void FocusRing::follow(QWidget *now)
{
    QWidget *window = parentWidget();
    m_target = now && now != window && window->isAncestorOf(now) ? now : nullptr;
    if (!m_target) {
        hide();
        return;
    }
    const QRect around(m_target->mapTo(window, QPoint(0, 0)), m_target->size());
    setGeometry(around.adjusted(-kWidth, -kWidth, kWidth, kWidth));
    raise();
    show();
    update();
}

void FocusRing::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect all = rect();
    painter.fillRect(QRect(0, 0, all.width(), kWidth), m_colour);
    painter.fillRect(QRect(0, all.height() - kWidth, all.width(), kWidth), m_colour);
    painter.fillRect(QRect(0, kWidth, kWidth, all.height() - 2 * kWidth), m_colour);
    painter.fillRect(QRect(all.width() - kWidth, kWidth, kWidth, all.height() - 2 * kWidth), m_colour);
}
