// Prints how long each program takes from its start to the mapping of its first top-level window on the
// X display in DISPLAY (an Xvfb without a window manager, so top-levels are children of the root window).
// Programs given together are started in turn, so a busy machine slows them alike. Every start gets a
// fresh private XDG_CONFIG_HOME and XDG_CONFIG_DIRS whose port links point nowhere.
//   startup_bench [-n RUNS] PROGRAM...
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 20000;

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

// Milliseconds from fork to the MapNotify of a new top-level window; negative when none came in time.
double timeOneStart(Display *display, const char *program)
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
    double took = -1;
    while (took < 0) {
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
        if (event.type == MapNotify && !event.xmap.override_redirect)
            took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::system(("rm -rf '" + config + "'").c_str());
    return took;
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 10;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-n") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: startup_bench [-n RUNS] PROGRAM...\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startup_bench: no X display (start Xvfb and set DISPLAY)\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::vector<std::vector<double>> times(argc - first);
    for (int run = 0; run < runs; ++run) {
        for (int p = first; p < argc; ++p)
            times[p - first].push_back(timeOneStart(display, argv[p]));
    }
    for (int p = first; p < argc; ++p) {
        std::vector<double> &t = times[p - first];
        const long failed = std::count_if(t.begin(), t.end(), [](double v) { return v < 0; });
        t.erase(std::remove_if(t.begin(), t.end(), [](double v) { return v < 0; }), t.end());
        std::sort(t.begin(), t.end());
        if (t.empty()) {
            std::printf("%s: no window in %d runs\n", argv[p], runs);
            continue;
        }
        std::printf("%s: start to window mapped, %zu runs: median %.0f ms, min %.0f ms, max %.0f ms%s\n", argv[p],
                    t.size(), t[t.size() / 2], t.front(), t.back(), failed ? " (some runs showed no window)" : "");
    }
    XCloseDisplay(display);
    return 0;
}
