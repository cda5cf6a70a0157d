#include "parallel_search.h"

#include "clock.h"
#include "frame_layer.h"
#include "line_settings.h"
#include "module_commands.h"
#include "module_operations.h"
#include "module_port.h"

#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The serial scan's counts and pauses.
constexpr int kVersionAttempts = 2;
constexpr int kPauseMs = 200;

// What the port threads share with the caller's thread.
struct Shared {
    QMutex mutex;
    QWaitCondition changed;
    QList<FoundModule> answered; // waiting for the caller's onFound
    int running = 0;
    std::atomic<bool> won{false};     // a module answered and wins (without everyModule)
    std::atomic<bool> stopped{false}; // a stop request halted some port
};

// One port's search, in its own thread: the parts are made there and used only there.
class PortSearch {
public:
    PortSearch(const ParallelSearchPlan &plan, Shared &shared) : m_plan(plan), m_shared(shared) {}

    // The serial search's turn at one port: each line setting in order, two requests each.
    void search(int portNumber)
    {
        entry.status.portNumber = portNumber;
        for (int index : m_plan.lineSettingsIndexes) {
            if (index < 0 || index >= kLineSettingsCount)
                continue;
            if (halted())
                return;
            const QByteArray lineSettings = kLineSettingsTable[index];
            if (!open(portNumber, lineSettings))
                return;
            const bool found = askSerialNumber(kSearchAttempts);
            m_port.close();
            if (found) {
                settle(portNumber, lineSettings, index, false);
                return;
            }
        }
    }

    // The stored port at the stored string, three requests.
    void quickAttempt(int portNumber, const QByteArray &lineSettings)
    {
        entry.status.portNumber = portNumber;
        if (halted() || !open(portNumber, lineSettings))
            return;
        const bool found = askSerialNumber(kQuickAttempts);
        m_port.close();
        if (found)
            settle(portNumber, lineSettings, -1, true);
    }

    ScanPortEntry entry;
    std::optional<FoundModule> module;

private:
    bool halted() const
    {
        if (!m_plan.everyModule && m_shared.won.load())
            return true;
        if (m_plan.stopRequested && m_plan.stopRequested()) {
            m_shared.stopped = true;
            return true;
        }
        return false;
    }

    bool open(int portNumber, const QByteArray &lineSettings)
    {
        const bool opened = m_port.open(portNumber, lineSettings);
        entry.status = m_port.lastOpenStatus();
        entry.status.portNumber = portNumber;
        if (opened)
            entry.lineSettingsTried.append(lineSettings);
        if (m_plan.onOpen)
            m_plan.onOpen(entry.status, lineSettings, opened);
        return opened;
    }

    bool askSerialNumber(int attempts)
    {
        return ::askSerialNumber(m_commands, entry, attempts, m_serial, [this] { return halted(); });
    }

    // A module answered: it wins unless another did first; the winner is told to the caller at once,
    // then reads its information.
    void settle(int portNumber, const QByteArray &lineSettings, int index, bool quick)
    {
        if (!m_plan.everyModule && m_shared.won.exchange(true))
            return;
        FoundModule found;
        found.scan.outcome = ScanResult::Outcome::InformationError; // until the information is read
        found.scan.portNumber = portNumber;
        found.scan.lineSettings = lineSettings;
        found.scan.lineSettingsIndex = index;
        found.scan.serialNumber = m_serial;
        found.devicePath = entry.status.devicePath;
        found.byQuickAttempt = quick;
        {
            QMutexLocker lock(&m_shared.mutex);
            m_shared.answered.append(found);
            m_shared.changed.wakeAll();
        }
        readInformation(found.scan);
        module = found;
    }

    // As the scan's: a new opening, then up to two times: pause, version, and after a good version a
    // pause and the customer register once.
    void readInformation(ScanResult &scan)
    {
        scan.informationFailure = ScanResult::InformationFailure::PortNotOpened;
        if (!m_port.open(scan.portNumber, scan.lineSettings))
            return;
        scan.informationFailure = ScanResult::InformationFailure::VersionUnanswered;
        for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
            m_clock.sleep(kPauseMs);
            const CommandResult version = m_commands.readFirmwareVersion();
            if (!version.ok) {
                scan.failedReply = version.reply;
                continue;
            }
            scan.version = version.value;
            scan.failedReply = FrameReply::Kind::Good;
            m_clock.sleep(kPauseMs);
            const CommandResult customer = m_commands.readCustomerRegister();
            if (customer.ok) {
                scan.outcome = ScanResult::Outcome::Complete;
                scan.customerRegister = customer.value;
                scan.informationFailure = ScanResult::InformationFailure::None;
            } else {
                scan.informationFailure = ScanResult::InformationFailure::CustomerUnanswered;
                scan.failedReply = customer.reply;
            }
            break;
        }
        m_port.close();
    }

    const ParallelSearchPlan &m_plan;
    Shared &m_shared;
    SystemClock m_clock;
    ModulePort m_port{m_clock};
    FrameLayer m_frames{m_port, m_clock};
    ModuleCommands m_commands{m_frames};
    QByteArray m_serial;
};

// What one port's thread leaves behind for the caller.
struct PortOutcome {
    ScanPortEntry entry;
    std::optional<FoundModule> module;
};

using PortJob = std::function<void(PortSearch &)>;

// Each job in its own thread, its port's parts made, used and destroyed there. The caller's thread
// hands every module that answers to onFound as it comes, and returns when all jobs have ended.
std::vector<PortOutcome> runJobs(const std::vector<PortJob> &jobs, const ParallelSearchPlan &plan, Shared &shared,
                                 const std::function<void(const FoundModule &)> &onFound)
{
    std::vector<PortOutcome> outcomes(jobs.size());
    std::vector<std::unique_ptr<QThread>> threads;
    shared.running = int(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads.emplace_back(QThread::create([&, i] {
            {
                PortSearch search(plan, shared);
                jobs[i](search);
                outcomes[i] = PortOutcome{search.entry, search.module};
            }
            QMutexLocker lock(&shared.mutex);
            --shared.running;
            shared.changed.wakeAll();
        }));
        threads.back()->start();
    }
    {
        QMutexLocker lock(&shared.mutex);
        for (;;) {
            while (!shared.answered.isEmpty()) {
                const FoundModule found = shared.answered.takeFirst();
                lock.unlock();
                if (onFound)
                    onFound(found);
                lock.relock();
            }
            if (shared.running == 0)
                break;
            shared.changed.wait(&shared.mutex);
        }
    }
    for (auto &thread : threads)
        thread->wait();
    return outcomes;
}

} // namespace

ParallelSearchResult runParallelSearch(const ParallelSearchPlan &plan,
                                       const std::function<void(const FoundModule &)> &onFound)
{
    ParallelSearchResult result;
    Shared shared;
    if (plan.quickPort > 0) {
        const std::vector<PortOutcome> quick = runJobs(
            {[&](PortSearch &search) { search.quickAttempt(plan.quickPort, plan.quickLineSettings); }}, plan,
            shared, onFound);
        result.report.append(quick.front().entry);
        if (quick.front().module) {
            result.modules.append(*quick.front().module);
            return result;
        }
    }
    std::vector<PortJob> jobs;
    for (int portNumber : plan.ports)
        jobs.push_back([portNumber](PortSearch &search) { search.search(portNumber); });
    const std::vector<PortOutcome> outcomes = runJobs(jobs, plan, shared, onFound);
    for (const PortOutcome &outcome : outcomes) {
        result.report.append(outcome.entry);
        if (outcome.module)
            result.modules.append(*outcome.module);
    }
    result.stopped = shared.stopped.load();
    return result;
}
