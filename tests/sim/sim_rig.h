#pragma once

#include "frame_layer.h"
#include "module_commands.h"
#include "module_port.h"
#include "test_support.h"
#include "traffic_log_reader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <memory>

// The real link (ModulePort, FrameLayer, ModuleCommands) on COM3, linked to a modulebench-sim on a
// pseudo-terminal; every other COMn leads nowhere. The sim logs its traffic to a private file.
class SimRig {
public:
    static constexpr int kPort = 3;

    SimRig() { m_config.linkAllPortsToNothing(); }
    ~SimRig() { port.close(); }

    bool start(const QStringList &simArgs)
    {
        m_sim = std::make_unique<SimProcess>(simArgs + QStringList{QStringLiteral("--log"), logPath()});
        if (!m_config.isValid() || !m_sim->start())
            return false;
        m_config.linkPort(kPort, m_sim->slavePath());
        return true;
    }

    QString logPath() const { return m_config.configHome() + QStringLiteral("/sim-traffic.log"); }
    std::vector<TrafficEvent> log() const { return parseTrafficLog(m_sim->log().toLatin1()); }

    // Waits up to two seconds for a note of the sim that contains the text.
    bool waitForNote(const QByteArray &text) const
    {
        QElapsedTimer timer;
        timer.start();
        do {
            for (const TrafficEvent &event : log()) {
                if (event.kind == TrafficEvent::Kind::Note && event.text.contains(text))
                    return true;
            }
            QThread::msleep(5);
        } while (timer.elapsed() < 2000);
        return false;
    }

    ScopedConfigHome &config() { return m_config; }
    SimProcess &sim() { return *m_sim; }

    SystemClock clock;
    ModulePort port{clock};
    FrameLayer frames{port, clock};
    ModuleCommands commands{frames};

private:
    ScopedConfigHome m_config;
    std::unique_ptr<SimProcess> m_sim;
};
