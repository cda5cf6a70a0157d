#include "server_socket.h"

#include "driver_library.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>


namespace {

using SocketOf = int (*)(const void *);

SocketOf pqSocket()
{
    return reinterpret_cast<SocketOf>(libpqFunction("PQsocket"));
}

} // namespace

std::intptr_t holdServerSocket(const QVariant &handle)
{
    const void *connection = libpqConnection(handle);
    const SocketOf socketOf = pqSocket();
    if (!connection || !socketOf)
        return -1;
    const int fd = socketOf(connection);
    // A descriptor of our own: shutting it reaches the socket, and the library's close of its own leaves it
    // no number another file could get in the meantime.
    return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

void cutServerSocket(std::intptr_t socket)
{
    if (socket >= 0)
        ::shutdown(int(socket), SHUT_RDWR);
}

void releaseServerSocket(std::intptr_t socket)
{
    if (socket >= 0)
        ::close(int(socket));
}
