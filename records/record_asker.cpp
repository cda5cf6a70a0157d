#include "record_asker.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace {

// While the server is away, a question goes to it no sooner than this after the last one.
constexpr auto kAskAgainAfter = std::chrono::seconds(2);
// How long the thread is waited for at the end.
constexpr auto kEndWait = std::chrono::milliseconds(1000);

} // namespace

struct RecordAsker::State {
    DatabaseAddress address;
    std::function<void(const QString &)> say;
    std::shared_ptr<ConnectionGuard> guard = std::make_shared<ConnectionGuard>();

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable answered;
    std::deque<std::pair<quint64, QString>> questions;
    std::map<quint64, std::optional<bool>> answers;
    std::set<quint64> waitedFor; // the questions whose fixtures still wait
    quint64 next = 0;
    bool ending = false;
    bool ended = false;
    bool leftBehind = false;
    bool away = false; // the last question went unanswered, and that was said
    std::chrono::steady_clock::time_point lastAsked;
};

RecordAsker::RecordAsker(const DatabaseAddress &address, std::function<void(const QString &)> say)
    : m_state(std::make_shared<State>())
{
    m_state->address = address;
    m_state->say = std::move(say);
    m_thread = std::thread([state = m_state] {
        serve(state);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ended = true;
        state->answered.notify_all();
    });
}

RecordAsker::~RecordAsker()
{
    finish();
}

std::optional<bool> RecordAsker::succeededBefore(const QString &serialNumber)
{
    State &s = *m_state;
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto now = std::chrono::steady_clock::now();
    if (s.ending)
        return std::nullopt;
    if (s.away) {
        // Known away: the question goes to the server now and then, and no fixture waits for its answer.
        if (now - s.lastAsked >= kAskAgainAfter && s.questions.empty()) {
            s.lastAsked = now;
            s.questions.emplace_back(++s.next, serialNumber);
            s.wake.notify_all();
        }
        return std::nullopt;
    }
    s.lastAsked = now;
    const quint64 number = ++s.next;
    s.questions.emplace_back(number, serialNumber);
    s.waitedFor.insert(number);
    s.wake.notify_all();
    s.answered.wait_for(lock, kAskLimit, [&] { return s.answers.count(number) > 0 || s.ended; });
    s.waitedFor.erase(number);
    const auto answer = s.answers.find(number);
    if (answer == s.answers.end())
        return std::nullopt;
    const std::optional<bool> result = answer->second;
    s.answers.erase(answer);
    return result;
}

bool RecordAsker::finish()
{
    if (!m_thread.joinable())
        return false;
    State &s = *m_state;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ending = true;
    }
    s.wake.notify_all();
    s.guard->cutForGood();
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        ended = s.answered.wait_for(lock, kEndWait, [&s] { return s.ended; });
        if (!ended)
            s.leftBehind = true;
    }
    if (ended) {
        m_thread.join();
        return false;
    }
    m_thread.detach();
    return true;
}

void RecordAsker::serve(const std::shared_ptr<State> &state)
{
    State &s = *state;
    RecordDatabase server(s.address, s.guard);
    server.setAnswerLimit(kAskLimit);
    // Connected before the first question, so that it waits for no login.
    QString unused;
    server.open(RecordDatabase::Use::Read, unused);
    for (;;) {
        std::pair<quint64, QString> question;
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            s.wake.wait(lock, [&s] { return s.ending || !s.questions.empty(); });
            if (s.ending)
                return;
            question = s.questions.front();
            s.questions.pop_front();
        }
        QString error;
        std::optional<bool> answer;
        if (server.isOpen() || server.open(RecordDatabase::Use::Read, error) == DatabaseProblem::None)
            answer = server.succeededBefore(question.second, error);
        if (!answer)
            server.close(); // made again for the next question
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.leftBehind || s.ending)
            return;
        // An answer no one waits for any more (its limit passed) is not kept.
        if (s.waitedFor.count(question.first) > 0)
            s.answers.emplace(question.first, answer);
        if (!answer && !s.away) {
            s.away = true;
            s.say(QStringLiteral("records: %1 could not be asked whether a module was set up before (%2); until it "
                                 "can, only this station's own records are looked at")
                      .arg(s.address.shown(), error));
        } else if (answer && s.away) {
            s.away = false;
            s.say(QStringLiteral("records: %1 can be asked again whether a module was set up before")
                      .arg(s.address.shown()));
        }
        // Questions asked while it was found away get no answer: their fixtures have gone on.
        if (!answer) {
            for (const auto &waiting : s.questions)
                s.answers.emplace(waiting.first, std::nullopt);
            s.questions.clear();
        }
        s.answered.notify_all();
    }
}
