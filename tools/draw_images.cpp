// Draws the window's button pictures and icon into a folder; run once, the PNGs are kept in ui/images/.
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

bool save(const QString &dir, const QString &name, const QSize &size,
          const std::function<void(QPainter &)> &draw)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    const QString path = QDir(dir).filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

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
    p.translate(8, 7);
    p.rotate(-35);
    p.setBrush(QColor(235, 120, 150));
    p.drawRect(QRectF(-2, -3.5, 8, 7));
    p.setBrush(QColor(120, 160, 230));
    p.drawRect(QRectF(-7, -3.5, 5, 7));
    p.resetTransform();
    p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
    p.drawLine(QPointF(1, 15.5), QPointF(15, 15.5));
}

void drawCharacters(QPainter &p, const QString &text)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(16);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::red);
    p.drawText(QRectF(0, 0, 34, 16), Qt::AlignCenter, text);
}

void drawIcon(QPainter &p)
{
    // The module as a small board with the window's indicator lamp.
    p.setPen(QPen(QColor(30, 30, 30), 1.5));
    p.setBrush(QColor(0, 0, 128));
    p.drawRoundedRect(QRectF(2, 6, 28, 20), 3, 3);
    p.setBrush(QColor(255, 255, 0));
    p.drawEllipse(QPointF(22, 16), 5, 5);
    p.setPen(QPen(Qt::white, 2));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(6, 11 + 5 * i), QPointF(13, 11 + 5 * i));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: draw_images OUTPUT_FOLDER\n");
        return 2;
    }
    const QString dir = args.at(1);
    QDir().mkpath(dir);
    const QSize small(16, 16);
    const QSize language(34, 16);
    bool ok = save(dir, QStringLiteral("scan.png"), small, drawMagnifier);
    ok = save(dir, QStringLiteral("telephone.png"), small, drawTelephone) && ok;
    ok = save(dir, QStringLiteral("clear.png"), small, drawEraser) && ok;
    ok = save(dir, QStringLiteral("simplified.png"), language,
              [](QPainter &p) { drawCharacters(p, QStringLiteral("简体")); }) && ok;
    ok = save(dir, QStringLiteral("traditional.png"), language,
              [](QPainter &p) { drawCharacters(p, QStringLiteral("繁體")); }) && ok;
    ok = save(dir, QStringLiteral("modulebench.png"), QSize(32, 32), drawIcon) && ok;
    return ok ? 0 : 1;
}
