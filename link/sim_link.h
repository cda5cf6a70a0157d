#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// modulebench-sim links its pseudo-terminal as COMn in the user's port folder and leaves a record
// beside the link ("COMn.owner": its process id, the link's target, the link it replaced). A sim killed
// with SIGKILL cannot remove its link, and the pty number it names goes to the next terminal opened:
// the record lets the next sim replace such a link and lets the tool refuse it.
struct SimLinkRecord {
    qint64 pid = 0;
    QByteArray target;
    QByteArray previousTarget; // empty when there was no link before
};

// $XDG_CONFIG_HOME/KAVOR/ports, ~/.config/KAVOR/ports without it (the folder the sim links in).
QString simLinksDir();
QString simLinkRecordPath(const QString &linkPath);
bool writeSimLinkRecord(const QString &linkPath, const SimLinkRecord &record);
std::optional<SimLinkRecord> readSimLinkRecord(const QString &linkPath);
// True while that process runs and is a modulebench-sim.
bool simLinkOwnerRunning(qint64 pid);
// COMn in the sim's folder is a link whose record names a sim that has gone, and still points where
// that sim pointed it.
bool isStaleSimulatorLink(int portNumber);
