// mb_port_holder: another program holding a device, as the tests need one.
//   mb_port_holder flock PATH   plain flock(LOCK_EX) on the device
//   mb_port_holder excl PATH    the terminal's exclusive flag (TIOCEXCL), no lock
//   mb_port_holder open PATH    the device open, nothing else (a terminal program that takes no lock)
//   mb_port_holder open-pty PATH  the device open beside a pseudo-terminal master of its own (a terminal
//                                 multiplexer, say): the master of another line, not this one's far end
// Prints "held PID" once it holds, keeps the hold until standard input ends.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3
        || (std::strcmp(argv[1], "flock") != 0 && std::strcmp(argv[1], "excl") != 0
            && std::strcmp(argv[1], "open") != 0 && std::strcmp(argv[1], "open-pty") != 0)) {
        std::fprintf(stderr, "usage: mb_port_holder flock|excl|open|open-pty PATH\n");
        return 2;
    }
    const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "mb_port_holder: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    if (std::strcmp(argv[1], "open-pty") == 0 && ::posix_openpt(O_RDWR | O_NOCTTY) < 0) {
        std::fprintf(stderr, "mb_port_holder: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const bool locked = std::strcmp(argv[1], "flock") == 0 ? ::flock(fd, LOCK_EX | LOCK_NB) == 0
                        : std::strcmp(argv[1], "excl") == 0  ? ::ioctl(fd, TIOCEXCL) == 0
                                                             : true;
    if (!locked) {
        std::fprintf(stderr, "mb_port_holder: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    std::printf("held %d\n", int(::getpid()));
    std::fflush(stdout);
    char sink[64];
    while (::read(STDIN_FILENO, sink, sizeof sink) > 0) {
    }
    return 0;
}
