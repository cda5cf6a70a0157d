#include "run_limit.h"

#include "outcomes.h"
#include "stop_token.h"

#include <chrono>
#include <cstdlib>

RunLimit::RunLimit(int seconds, StopToken &stop, std::function<void()> lastWords)
    : m_stop(stop), m_lastWords(std::move(lastWords))
{
    if (seconds > 0)
        m_thread = std::thread([this, seconds] { watch(seconds); });
}

RunLimit::~RunLimit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_ended.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void RunLimit::watch(int seconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_ended.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; }))
        return;
    m_stop.request(StopToken::Reason::TimeUp);
    if (m_ended.wait_for(lock, std::chrono::seconds(kGraceSeconds), [this] { return m_done; }))
        return;
    if (m_lastWords)
        m_lastWords();
    std::_Exit(exitStatusOf(Outcome::TimedOut));
}
