#pragma once

#include <atomic>

// A request to stop, from a signal handler, a console event, a run's time limit or another thread: the
// searches look at it before each open and each request, a change once right before the command that
// changes the module. Lock-free, so a signal handler may set it.
class StopToken {
public:
    enum class Reason { None, Asked, TimeUp };

    // The first reason given stays.
    void request(Reason reason = Reason::Asked) noexcept
    {
        int none = int(Reason::None);
        m_reason.compare_exchange_strong(none, int(reason));
    }
    bool requested() const noexcept { return m_reason.load() != int(Reason::None); }
    Reason reason() const noexcept { return Reason(m_reason.load()); }

private:
    std::atomic<int> m_reason{int(Reason::None)};
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets the stop token");
};
