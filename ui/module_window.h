#pragma once

#include "clock.h"
#include "frame_layer.h"
#include "message_table.h"
#include "module_commands.h"
#include "module_view.h"
#include "serial_device.h"
#include "settings_store.h"
#include "tone_player.h"

#include <QWidget>

// The tool's one window. Controls carry their names as object names (btnScan, pnMsg, ...).
class TfrmModule : public QWidget, public ModuleView {
    Q_OBJECT
public:
    TfrmModule(SettingsStore &settings, const MessageTable &messages, SerialDevice &port,
               FrameLayer &frames, ModuleCommands &commands, Clock &clock, TonePlayer &tones,
               QWidget *parent = nullptr);
    ~TfrmModule() override;
};
