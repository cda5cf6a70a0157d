// Start-up of the window program beside its floor, a bare Qt Widgets window of the same size (a label; built
// beside this program). For each program: the time from its start to the mapping of its first top-level window
// on the X display in DISPLAY (an Xvfb without a window manager, so top-levels are children of the root window),
// the CPU time its threads used until then (steadier than the clock on a loaded machine), and once the window is
// up (half a second after mapping, its first paint long done) the CPU time so far and the resident memory (and
// its peak). Then the ratios of the window program's medians to the bare window's.
// Programs are started in turn, so a busy machine slows them alike. Every start gets a fresh private
// XDG_CONFIG_HOME and XDG_CONFIG_DIRS whose port links point nowhere.
//   startup_bench [-n RUNS] [PROGRAM...]     (default: the window program of this build)
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 20000;
constexpr int kSettleMs = 500;

std::string makeConfig()
{
    char pattern[] = "/tmp/mb-startup-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    const std::string home = std::string(dir) + "/home";
    const std::string script = "mkdir -p '" + home + "/KAVOR/ports' '" + dir + "/dirs' && for n in $(seq 1 16); do "
                               "ln -s '" + dir + "/nothing' '" + home + "/KAVOR/ports/COM'$n; done";
    if (std::system(script.c_str()) != 0)
        std::exit(1);
    return dir;
}

// A "Name:   1234 kB" line of /proc/PID/status, in MB; negative when missing.
double statusMegabytes(pid_t pid, const char *name)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            std::istringstream fields(line.substr(key.size()));
            double kb = -1;
            fields >> kb;
            return kb / 1024.0;
        }
    }
    return -1;
}

// CPU time of every thread of the process so far, in ms (the scheduler's own count, in nanoseconds); negative
// when unreadable. Steadier than the wall clock on a loaded machine.
double cpuMilliseconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    double total = 0;
    bool any = false;
    while (const dirent *task = readdir(dir)) {
        if (task->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + task->d_name + "/schedstat");
        double ns = 0;
        if (stat >> ns) {
            total += ns;
            any = true;
        }
    }
    closedir(dir);
    return any ? total / 1e6 : -1;
}

struct Start {
    double ms = -1;   // to the window mapped; negative when none came in time
    double cpu = -1;  // CPU time used until then
    double cpuSettled = -1; // and until the window is up (its first paint done)
    double rss = -1;  // MB resident once the window is up
    double peak = -1; // MB resident at most until then
};

Start timeOneStart(Display *display, const char *program)
{
    const std::string config = makeConfig();
    XSync(display, True);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", (config + "/home").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (config + "/dirs").c_str(), 1);
        if (FILE *quiet = std::fopen("/dev/null", "w")) {
            dup2(fileno(quiet), STDOUT_FILENO);
            dup2(fileno(quiet), STDERR_FILENO);
        }
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    Start result;
    while (result.ms < 0) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (waited > kTimeoutMs)
            break;
        if (XPending(display) == 0) {
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect) {
            result.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            result.cpu = cpuMilliseconds(pid);
        }
    }
    if (result.ms >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        result.cpuSettled = cpuMilliseconds(pid);
        result.rss = statusMegabytes(pid, "VmRSS");
        result.peak = statusMegabytes(pid, "VmHWM");
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::system(("rm -rf '" + config + "'").c_str());
    return result;
}

double median(std::vector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Figures {
    std::string program;
    std::vector<double> ms, cpu, cpuSettled, rss, peak;
};

} // namespace

int main(int argc, char *argv[])
{
    int runs = 20;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-n") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    std::vector<Figures> programs{{MB_BARE_WINDOW, {}, {}, {}, {}, {}}};
    if (first >= argc)
        programs.push_back({MB_WINDOW_PROGRAM, {}, {}, {}, {}, {}});
    for (int p = first; p < argc; ++p) {
        if (argv[p][0] == '-') {
            std::fprintf(stderr, "usage: startup_bench [-n RUNS] [PROGRAM...]\n");
            return 2;
        }
        programs.push_back({argv[p], {}, {}, {}, {}, {}});
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startup_bench: no X display (start Xvfb and set DISPLAY)\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    // One start of each first, unmeasured: the disk cache then holds every program and library alike.
    for (Figures &f : programs)
        timeOneStart(display, f.program.c_str());
    for (int run = 0; run < runs; ++run) {
        for (Figures &f : programs) {
            const Start s = timeOneStart(display, f.program.c_str());
            f.ms.push_back(s.ms);
            f.cpu.push_back(s.cpu);
            f.cpuSettled.push_back(s.cpuSettled);
            f.rss.push_back(s.rss);
            f.peak.push_back(s.peak);
        }
    }
    const Figures &bare = programs.front();
    for (const Figures &f : programs) {
        const long shown = std::count_if(f.ms.begin(), f.ms.end(), [](double v) { return v >= 0; });
        if (shown == 0) {
            std::printf("%s: no window in %d runs\n", f.program.c_str(), runs);
            continue;
        }
        std::vector<double> sorted = f.ms;
        sorted.erase(std::remove_if(sorted.begin(), sorted.end(), [](double v) { return v < 0; }), sorted.end());
        std::sort(sorted.begin(), sorted.end());
        std::printf("%s, %ld runs (medians):\n  window mapped after %.1f ms (min %.1f, max %.1f), %.1f ms of CPU "
                    "(%.1f ms once up); resident %.1f MB (peak %.1f MB)%s\n",
                    f.program.c_str(), shown, median(f.ms), sorted.front(), sorted.back(), median(f.cpu),
                    median(f.cpuSettled), median(f.rss), median(f.peak),
                    shown < runs ? " (some runs showed no window)" : "");
        if (&f != &bare && median(bare.ms) > 0 && median(bare.cpu) > 0 && median(bare.rss) > 0)
            std::printf("  to the bare window: time %.2fx (CPU %.2fx, %.2fx once up), memory %.2fx (peak %.2fx)\n",
                        median(f.ms) / median(bare.ms), median(f.cpu) / median(bare.cpu),
                        median(f.cpuSettled) / median(bare.cpuSettled), median(f.rss) / median(bare.rss),
                        median(f.peak) / median(bare.peak));
    }
    XCloseDisplay(display);
    return 0;
}
