#pragma once

#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Holds one server connection to its time limits from another thread. A statement the server does not answer
// in its time is cut off: the connection's socket is shut both ways, so that the client library returns at
// once with a broken connection, whatever the server or the network does (a server stopped without a reset
// would otherwise be waited for until the kernel gives up on the connection, a quarter of an hour later).
// And when the program is to end, the connection is cut at once, and each one attached after it.
class ConnectionGuard {
public:
    ConnectionGuard() = default;
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;

    // The connection just made, by its driver's handle (libpq's PGconn). One whose socket cannot be had (an
    // ODBC driver's) is held to its driver's own time-outs only.
    void attach(const QVariant &handle);
    // Before the connection is closed.
    void detach();

    // A statement begins, to be answered within limit; it has ended.
    void arm(std::chrono::milliseconds limit);
    void disarm();
    // Whether the connection was cut for a statement's time (since the last attach).
    bool timedOut() const;

    // Cuts the connection now, and every one attached from now on.
    void cutForGood();
    bool isCutForGood() const;

private:
    void watch();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::intptr_t m_socket = -1;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_armed = false;
    bool m_timedOut = false;
    bool m_cutForGood = false;
    bool m_ending = false;
    std::thread m_thread;
};

// A statement's time limit for as long as it lives.
class GuardedStatement {
public:
    GuardedStatement(ConnectionGuard *guard, std::chrono::milliseconds limit) : m_guard(guard)
    {
        if (m_guard)
            m_guard->arm(limit);
    }
    ~GuardedStatement()
    {
        if (m_guard)
            m_guard->disarm();
    }
    GuardedStatement(const GuardedStatement &) = delete;
    GuardedStatement &operator=(const GuardedStatement &) = delete;

private:
    ConnectionGuard *m_guard;
};
