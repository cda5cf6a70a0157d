#pragma once

#include "virtual_module.h"

#include <QString>

struct SimConfig {
    ModuleIdentity identity;
    ModuleFaults faults;
    int delayMs = 0;
    QByteArray lateFrom; // the delay only from the first request starting with this on; empty: always
    int resetMs = 0; // after a baud-rate change: how long the module answers nothing while it resets
    bool stream = false;
    int comNumber = 0; // 0: no link in the port folder
    bool exitOnEof = false;
    QString logTarget;
};

// Opens the line, prints its path, answers until SIGINT, SIGTERM, SIGHUP or (on demand) the end
// of stdin. Returns the process's exit code.
int runSim(const SimConfig &config);
