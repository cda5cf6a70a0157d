#include "module_session.h"
#include "module_window.h"
#include "startup.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

int runTool(QApplication &app)
{
    setUpApplication();
    // On the heap: the message table alone is some kilobytes.
    const auto session = std::make_unique<ModuleSession>();
    TfrmModule frmModule(*session);
    frmModule.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    switch (readCommandLine(argc, argv)) {
    case StartRequest::Help:
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    case StartRequest::Version:
        std::fputs(qPrintable(versionText()), stdout);
        return 0;
    case StartRequest::Window:
        break;
    }
    QApplication app(argc, argv);
    try {
        return runTool(app);
    } catch (const std::exception &error) {
        QMessageBox::critical(nullptr, applicationTitle(), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, applicationTitle(), QStringLiteral("Unknown error"));
    }
    return 1;
}
