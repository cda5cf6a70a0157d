#pragma once

#include <QByteArray>
#include <QString>

// The line to the tool: a pseudo-terminal whose slave side the tool opens as its serial port.
// The slave stays open here as well, so the tool's close never hangs the line up.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(QString &error);
    int masterFd() const { return m_master; }
    QByteArray slavePath() const { return m_slavePath; }
    // The baud rate the tool's side has set now, read from the master; 0 when unknown.
    qint32 lineBaudRate() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_slavePath;
};

// COMn in the user's port folder, pointing at the slave while the sim runs, with a record beside it
// (COMn.owner) naming this process. A link that was there before is put back at the end, so a port
// never falls back to a real device. A link whose record names a sim that is gone (killed) is replaced
// at the next start, and the link it had replaced is the one put back.
class PortLink {
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    bool create(int portNumber, const QByteArray &target, QString &error);
    void remove();
    QByteArray path() const { return m_path; }

    // $XDG_CONFIG_HOME/KAVOR/ports, ~/.config/KAVOR/ports without it.
    static QByteArray portsDir();

private:
    QByteArray m_path;
    QByteArray m_target;
    QByteArray m_previousTarget;
};
