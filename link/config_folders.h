#pragma once

#include <QString>
#include <QStringList>

// The configuration folders of the XDG rule, where the stored settings and the COMn port links live.
// Read from the environment at every call: it may change while the process runs.
// A relative entry is not valid there (it would depend on the working folder) and is ignored.

// $XDG_CONFIG_HOME, else ~/.config.
QString xdgConfigHome();
// The folders of $XDG_CONFIG_DIRS in their order, else /etc/xdg.
QStringList xdgConfigDirs();
