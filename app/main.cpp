#include "clock.h"
#include "frame_layer.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_port.h"
#include "module_window.h"
#include "settings_store.h"
#include "startup.h"
#include "tone_player.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <memory>

namespace {

int runTool(QApplication &app)
{
    setUpApplication();
    SystemClock clock;
    ModulePort port(clock);
    FrameLayer frames(port, clock);
    ModuleCommands commands(frames);
    SettingsStore settings;
    const auto messages = std::make_unique<const MessageTable>();
    TonePlayer tones;

    TfrmModule frmModule(settings, *messages, port, frames, commands, clock, tones);
    frmModule.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    switch (readCommandLine(argc, argv)) {
    case StartRequest::Help:
        printForCommandLine(helpText());
        return 0;
    case StartRequest::Version:
        printForCommandLine(versionText());
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
