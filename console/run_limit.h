#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class StopToken;

// --timeout: when the run's time is up, the stop token is requested (the run ends at its next safe point,
// never inside a change). A run that has still not ended a while later (a port whose driver blocks) is ended
// by force: lastWords runs, then the process exits with the timed-out status.
class RunLimit {
public:
    // seconds 0: no limit.
    RunLimit(int seconds, StopToken &stop, std::function<void()> lastWords);
    ~RunLimit();
    RunLimit(const RunLimit &) = delete;
    RunLimit &operator=(const RunLimit &) = delete;

    // The longest a change, once begun, and its check after it may take.
    static constexpr int kGraceSeconds = 15;

private:
    void watch(int seconds);

    StopToken &m_stop;
    std::function<void()> m_lastWords;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_thread;
};
