#include "server_socket.h"

#include "driver_library.h"

#include <winsock2.h>
#include <windows.h>


namespace {

using SocketOf = int(__cdecl *)(const void *);

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
    // A socket is no descriptor to duplicate here: the library's own, which it closes only when the
    // connection is closed, after detach.
    const int socket = socketOf(connection);
    return socket < 0 ? -1 : std::intptr_t(socket);
}

void cutServerSocket(std::intptr_t socket)
{
    if (socket >= 0)
        ::shutdown(SOCKET(socket), SD_BOTH);
}

void releaseServerSocket(std::intptr_t)
{
}
