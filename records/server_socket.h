#pragma once

#include <QVariant>

#include <cstdint>

// The socket under a database driver's connection, one file per platform. Held apart from the client
// library's own descriptor, so that it may be shut from another thread even while the library closes its own.

// The socket of the connection whose driver handle this is, held; -1 when none can be had.
std::intptr_t holdServerSocket(const QVariant &handle);
// Shuts it both ways: what waits on it returns at once.
void cutServerSocket(std::intptr_t socket);
void releaseServerSocket(std::intptr_t socket);
