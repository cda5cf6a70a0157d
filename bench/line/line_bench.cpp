// Gang throughput of modulebench-cli watch: N fixtures (N = 1, 2, 4, 8), each a COMn in a private settings
// folder where a virtual module is exchanged for the next one the moment its record appears, as an operator
// who never keeps the line waiting. Prints modules per hour per N and the ratio to N times one fixture.
// Usage: line_bench [SECONDS per N, default 20]
#include "test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kFirstPort = 3;

struct Fixture {
    int port = 0;
    std::unique_ptr<SimProcess> module;
    int next = 0;
};

// A new module in the fixture: started, then linked in place of the last one, which then ends.
bool exchange(ScopedConfigHome &home, Fixture &fixture)
{
    const QString serial = QStringLiteral("G%1N%2").arg(fixture.port, 2, 10, QLatin1Char('0')).arg(fixture.next++, 4, 10, QLatin1Char('0'));
    auto module = std::make_unique<SimProcess>(QStringList{QStringLiteral("--serial"), serial});
    if (!module->start())
        return false;
    home.linkPort(fixture.port, module->slavePath());
    if (fixture.module)
        fixture.module->stop();
    fixture.module = std::move(module);
    return true;
}

struct Figures {
    double perHour = 0;
    int modules = 0;
    double meanDurationMs = 0;
};

Figures run(int fixtures, int seconds)
{
    ScopedConfigHome home;
    home.linkAllPortsToNothing();
    std::map<QString, Fixture> byPort;
    for (int i = 0; i < fixtures; ++i) {
        Fixture fixture;
        fixture.port = kFirstPort + i;
        byPort[QStringLiteral("COM%1").arg(fixture.port)] = std::move(fixture);
    }
    for (auto &entry : byPort) {
        if (!exchange(home, entry.second)) {
            std::fprintf(stderr, "line_bench: modulebench-sim did not start\n");
            return {};
        }
    }
    QProcess watch;
    watch.setProgram(QStringLiteral(MB_CLI_PATH));
    watch.setArguments({QStringLiteral("watch"), QStringLiteral("--json"), QStringLiteral("--port"),
                        QStringLiteral("%1-%2").arg(kFirstPort).arg(kFirstPort + fixtures - 1)});
    watch.setProcessChannelMode(QProcess::SeparateChannels);
    watch.start();
    watch.waitForStarted();

    // Each fixture's first record starts its own clock, so start-up and the first search are left out; all
    // clocks stop together.
    QElapsedTimer clock;
    clock.start();
    std::map<QString, qint64> firstAt;
    std::map<QString, int> counted;
    qint64 durations = 0;
    QByteArray pending;
    const qint64 endAt = qint64(seconds) * 1000 + 3000;
    while (clock.elapsed() < endAt) {
        watch.waitForReadyRead(50);
        pending += watch.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject record = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            const QString port = record.value(QStringLiteral("port")).toString();
            if (!byPort.count(port))
                continue;
            if (!firstAt.count(port)) {
                firstAt[port] = clock.elapsed();
            } else {
                ++counted[port];
                durations += record.value(QStringLiteral("duration_ms")).toInteger();
            }
            exchange(home, byPort[port]);
        }
        if (watch.state() == QProcess::NotRunning)
            break;
    }
    const qint64 stoppedAt = clock.elapsed();
    ::kill(pid_t(watch.processId()), SIGINT);
    watch.waitForFinished(10000);
    for (auto &entry : byPort) {
        if (entry.second.module)
            entry.second.module->stop();
    }
    double perHour = 0;
    int modules = 0;
    for (const auto &entry : firstAt) {
        const double window = (stoppedAt - entry.second) / 1000.0;
        const int n = counted.count(entry.first) ? counted[entry.first] : 0;
        modules += n;
        if (window > 0)
            perHour += n * 3600.0 / window;
    }
    Figures figures;
    figures.modules = modules;
    figures.perHour = perHour;
    figures.meanDurationMs = modules > 0 ? double(durations) / modules : 0;
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;
    std::printf("modulebench-cli watch --port: fixtures served at once, each module exchanged as soon as it is recorded\n");
    std::printf("(about %d s per row, each fixture timed from its first record; %d cores)\n", seconds, QThread::idealThreadCount());
    std::printf("%9s %9s %14s %16s %22s\n", "fixtures", "modules", "modules/hour", "mean module ms", "ratio to N x one");
    double one = 0;
    for (int n : {1, 2, 4, 8}) {
        const Figures figures = run(n, seconds);
        if (n == 1)
            one = figures.perHour;
        const double ratio = one > 0 ? figures.perHour / (n * one) : 0;
        std::printf("%9d %9d %14.0f %16.0f %22.2f\n", n, figures.modules, figures.perHour, figures.meanDurationMs, ratio);
        std::fflush(stdout);
    }
    return 0;
}
