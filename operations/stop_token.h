#pragma once

#include <atomic>

// A request to stop, from a signal handler, a console event or another thread: the searches look at it before
// each open and each request, a change once right before the command that changes the module. Lock-free, so
// a signal handler may set it.
class StopToken {
public:
    void request() noexcept { m_requested.store(true); }
    bool requested() const noexcept { return m_requested.load(); }

private:
    std::atomic<bool> m_requested{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the stop token");
};
