// The floor the window program's start-up is measured against: a Qt Widgets window of the same client size
// holding one label, and nothing else.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("KAVOR MARDEN-F Module Config"));
    window.setFixedSize(359, 353);
    window.show();
    return app.exec();
}
