// What it costs to open a port, against modulebench-sim: the checks before the open (the flock, the
// exclusive flag, the look through /proc/*/fd for other processes with the device open) and the open
// and close themselves. Prints figures; asserts nothing.
#include "clock.h"
#include "module_port.h"
#include "port_problem.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <string>

namespace {

constexpr int kPort = 3;
constexpr int kRounds = 100;

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Processes and their open descriptors: what the look through /proc has to read.
std::pair<int, int> processesAndDescriptors()
{
    int processes = 0;
    int descriptors = 0;
    DIR *proc = ::opendir("/proc");
    while (const dirent *entry = proc ? ::readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        ++processes;
        if (DIR *fds = ::opendir(("/proc/" + std::string(entry->d_name) + "/fd").c_str())) {
            while (const dirent *fd = ::readdir(fds))
                descriptors += fd->d_name[0] != '.';
            ::closedir(fds);
        }
    }
    if (proc)
        ::closedir(proc);
    return {processes, descriptors};
}

template <typename Step>
void measure(const char *what, Step step)
{
    QElapsedTimer wall;
    const double cpuStart = cpuMs();
    wall.start();
    for (int i = 0; i < kRounds; ++i)
        step();
    std::printf("%-40s %7.3f ms wall %7.3f ms CPU each (%d rounds)\n", what, double(wall.nsecsElapsed()) / 1e6 / kRounds,
                (cpuMs() - cpuStart) / kRounds, kRounds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ScopedConfigHome config;
    SimProcess sim({});
    if (!config.isValid() || !sim.start()) {
        std::fprintf(stderr, "port_open_bench: cannot start %s\n", qPrintable(SimProcess::executablePath()));
        return 1;
    }
    config.linkAllPortsToNothing();
    config.linkPort(kPort, sim.slavePath());
    const auto [processes, descriptors] = processesAndDescriptors();
    std::printf("%d processes with %d open descriptors that this user may see\n", processes, descriptors);
    if (probePort(kPort).problem != PortProblem::None) {
        std::fprintf(stderr, "port_open_bench: COM%d cannot be opened\n", kPort);
        return 1;
    }
    measure("probe (checks, no QSerialPort)", [] { probePort(kPort); });
    SystemClock clock;
    ModulePort port(clock);
    measure("open and close at 19200,e,8,1", [&port] {
        port.open(kPort, "19200,e,8,1");
        port.close();
    });
    measure("probe of a port with no device", [] { probePort(kPort + 1); });
    return 0;
}
