// Draws the window's icon into a folder; run once, the PNG is kept in ui/images/. The button pictures are
// drawn by the window itself at the size and pixel density they are shown (ui/button_pictures.cpp).
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

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
    return save(dir, QStringLiteral("modulebench.png"), QSize(32, 32), drawIcon) ? 0 : 1;
}
