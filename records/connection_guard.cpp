#include "connection_guard.h"

#include "server_socket.h"

ConnectionGuard::~ConnectionGuard()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    releaseServerSocket(m_socket);
}

void ConnectionGuard::attach(const QVariant &handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    releaseServerSocket(m_socket);
    m_socket = holdServerSocket(handle);
    m_timedOut = false;
    if (m_cutForGood)
        cutServerSocket(m_socket);
}

void ConnectionGuard::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    releaseServerSocket(m_socket);
    m_socket = -1;
    m_armed = false;
    m_timedOut = false;
}

void ConnectionGuard::arm(std::chrono::milliseconds limit)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_socket < 0)
            return;
        m_deadline = std::chrono::steady_clock::now() + limit;
        m_armed = true;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { watch(); });
    }
    m_wake.notify_all();
}

void ConnectionGuard::disarm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
}

bool ConnectionGuard::timedOut() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timedOut;
}

void ConnectionGuard::cutForGood()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cutForGood = true;
    cutServerSocket(m_socket);
}

bool ConnectionGuard::isCutForGood() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cutForGood;
}

void ConnectionGuard::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_ending) {
        if (!m_armed) {
            m_wake.wait(lock);
            continue;
        }
        const auto deadline = m_deadline;
        if (m_wake.wait_until(lock, deadline) == std::cv_status::timeout && m_armed && m_deadline == deadline) {
            m_armed = false;
            m_timedOut = true;
            cutServerSocket(m_socket);
        }
    }
}
