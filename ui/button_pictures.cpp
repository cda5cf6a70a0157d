#include "button_pictures.h"

#include <QApplication>
#include <QFile>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

namespace {

void drawMagnifier(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14.5, 14.5));
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    p.setBrush(QColor(170, 215, 255));
    p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
    p.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(3.5, 3.5, 6, 6), 100 * 16, 70 * 16);
}

void drawTelephone(QPainter &p)
{
    // Body with a dial, and the handset lying across the top.
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(200, 30, 30));
    QPainterPath body;
    body.moveTo(3, 15.5);
    body.lineTo(13, 15.5);
    body.lineTo(12, 8);
    body.lineTo(4, 8);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 11.8), 2.2, 2.2);
    p.setBrush(QColor(200, 30, 30));
    QPainterPath handset;
    handset.moveTo(0.5, 6.5);
    handset.cubicTo(0.5, 1.5, 15.5, 1.5, 15.5, 6.5);
    handset.lineTo(12, 6.5);
    handset.lineTo(11.5, 4.8);
    handset.cubicTo(9.5, 4, 6.5, 4, 4.5, 4.8);
    handset.lineTo(4, 6.5);
    handset.closeSubpath();
    p.drawPath(handset);
}

void drawEraser(QPainter &p)
{
    // An eraser rubbing out a line: clearing the register.
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.save();
    p.translate(8, 7);
    p.rotate(-35);
    p.setBrush(QColor(235, 120, 150));
    p.drawRect(QRectF(-2, -3.5, 8, 7));
    p.setBrush(QColor(120, 160, 230));
    p.drawRect(QRectF(-7, -3.5, 5, 7));
    p.restore();
    p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
    p.drawLine(QPointF(1, 15.5), QPointF(15, 15.5));
}

void drawCharacters(QPainter &p, const QString &text, const QColor &ink)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(16);
    font.setBold(true);
    // Outlines scaled with the painter, not hinted to the 16-pixel grid.
    font.setHintingPreference(QFont::PreferNoHinting);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(QRectF(0, 0, 34, 16), Qt::AlignCenter, text);
}

class PictureEngine : public QIconEngine {
public:
    PictureEngine(ButtonPicture picture, const QColor &ink) : m_picture(picture), m_ink(ink) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        if (mode == QIcon::Disabled) {
            // The style greys a picture for a disabled button; it needs pixels for that.
            const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
            QPixmap shown = pixmap(rect.size() * ratio, mode, QIcon::Off);
            shown.setDevicePixelRatio(ratio);
            painter->drawPixmap(rect.topLeft(), shown);
            return;
        }
        draw(*painter, rect);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // size is in device pixels already; scale is the density they are shown at.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            draw(painter, image.rect());
        }
        QPixmap drawn = QPixmap::fromImage(image);
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            QStyleOption option;
            option.palette = QApplication::palette();
            drawn = QApplication::style()->generatedIconPixmap(mode, drawn, &option);
        }
        drawn.setDevicePixelRatio(scale);
        return drawn;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {designSize(m_picture)}; }
    QString key() const override { return QStringLiteral("ModuleBenchPicture"); }
    QIconEngine *clone() const override { return new PictureEngine(m_picture, m_ink); }

private:
    // The drawing, scaled from its design size to fit the rectangle, centred.
    void draw(QPainter &painter, const QRect &rect) const
    {
        const QSize design = designSize(m_picture);
        const qreal scale = qMin(qreal(rect.width()) / design.width(), qreal(rect.height()) / design.height());
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(rect.x() + (rect.width() - design.width() * scale) / 2,
                          rect.y() + (rect.height() - design.height() * scale) / 2);
        painter.scale(scale, scale);
        switch (m_picture) {
        case ButtonPicture::Magnifier:
            drawMagnifier(painter);
            break;
        case ButtonPicture::Telephone:
            drawTelephone(painter);
            break;
        case ButtonPicture::Eraser:
            drawEraser(painter);
            break;
        case ButtonPicture::SimplifiedCharacters:
            drawCharacters(painter, QStringLiteral("简体"), m_ink);
            break;
        case ButtonPicture::TraditionalCharacters:
            drawCharacters(painter, QStringLiteral("繁體"), m_ink);
            break;
        }
        painter.restore();
    }

    ButtonPicture m_picture;
    QColor m_ink;
};

} // namespace

QSize designSize(ButtonPicture picture)
{
    switch (picture) {
    case ButtonPicture::SimplifiedCharacters:
    case ButtonPicture::TraditionalCharacters:
        return {34, 16};
    default:
        return {16, 16};
    }
}

QIcon buttonPicture(ButtonPicture picture, const QColor &ink)
{
    return QIcon(new PictureEngine(picture, ink));
}

QIcon standardClosePicture(const QStyle &style)
{
    const QString file = QStringLiteral(":/qt-project.org/styles/commonstyle/images/standardbutton-close-%1.png");
    if (!QFile::exists(file.arg(16)))
        return style.standardIcon(QStyle::SP_DialogCloseButton);
    // Read as PNG outright: left to guess, the reader asks every image plugin first.
    QIcon icon;
    for (const int size : {16, 32, 128}) {
        QImageReader reader(file.arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}
