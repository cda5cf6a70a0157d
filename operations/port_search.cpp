#include "port_search.h"

#include "line_settings.h"
#include "module_operations.h"

#include <QThread>

#include <atomic>
#include <climits>
#include <memory>
#include <vector>

PortSearched searchPort(PortProbe &probe, int portNumber, ScanPortEntry &entry, LineSettingsWalk &walk)
{
    PortSearched searched;
    for (int index = walk.first(); index >= 0; index = walk.next(index)) {
        if (!probe.mayGoOn()) {
            searched.halted = true;
            break;
        }
        walk.trying(index);
        searched.visited = true;
        if (!probe.open(portNumber, kLineSettingsTable[index], entry))
            break;
        walk.opened(portNumber);
        QByteArray serial;
        const bool found = probe.askSerialNumber(entry, kSearchAttempts, serial);
        if (found) {
            searched.place = SearchPlace{portNumber, index, serial, probe.serialCutAtZeroByte()};
            walk.answered(*searched.place);
        }
        probe.close();
        if (found)
            break;
    }
    return searched;
}

namespace {

// The line settings a parallel search's thread was given, in their order.
class ListWalk final : public LineSettingsWalk {
public:
    ListWalk(const QList<int> &indexes, std::function<void()> answered)
        : m_indexes(indexes), m_answered(std::move(answered))
    {
    }
    int first() override { return m_indexes.isEmpty() ? -1 : m_indexes.first(); }
    int next(int index) override
    {
        const qsizetype at = m_indexes.indexOf(index) + 1;
        return at > 0 && at < m_indexes.size() ? m_indexes.at(at) : -1;
    }
    void answered(const SearchPlace &) override { m_answered(); }

private:
    const QList<int> &m_indexes;
    std::function<void()> m_answered;
};

} // namespace

std::optional<ScanOperation::Found> ScanOperation::search(PortProbe &probe)
{
    // The window's walk: the lock box is read afresh before and after every line setting tried, the list
    // shows the line setting tried and the panel the port that opened; the place is stored at once, while
    // the port is still open.
    class WindowWalk final : public LineSettingsWalk {
    public:
        explicit WindowWalk(ScanOperation &scan) : m_scan(scan) {}
        int first() override { return locked() ? m_scan.storedLineSettingsIndex() : 0; }
        int next(int index) override
        {
            if (locked() || ++index >= kLineSettingsCount)
                return -1;
            return locked() ? m_scan.storedLineSettingsIndex() : index;
        }
        void trying(int index) override { m_scan.m_ctx.view.selectLineSettings(index); }
        void opened(int portNumber) override { m_scan.showPortTried(portNumber); }
        void answered(const SearchPlace &place) override { m_scan.remember(place); }

    private:
        bool locked() const { return m_scan.m_ctx.view.lockChecked(); }
        ScanOperation &m_scan;
    };

    WindowWalk walk(*this);
    for (const int port : ports()) {
        ScanPortEntry entry;
        const PortSearched searched = searchPort(probe, port, entry, walk);
        if (searched.visited)
            m_result.report.append(entry);
        if (searched.place || searched.halted)
            return searched.place;
    }
    return std::nullopt;
}

std::optional<ScanOperation::Found> ScanOperation::searchParallel()
{
    const QList<int> portList = ports();
    const QList<int> indexes = lineSettingsToTry();
    const bool every = m_scope.everyModule;
    const int count = int(portList.size());

    // One port's turn, as its thread leaves it.
    struct Turn {
        ScanPortEntry entry;
        PortSearched searched;
        bool stopped = false;
        InformationRead information;
    };
    std::vector<Turn> turns(static_cast<size_t>(count));
    // The position in the list of the first port that answered: a port after it stops, one before it goes on,
    // so the answer is the one the serial search reaches first.
    std::atomic<int> firstFound{INT_MAX};
    // Set as each port's search ends: the answering port of a plain search reads the module once every port
    // before it has ended without an answer.
    std::unique_ptr<std::atomic<bool>[]> searched(new std::atomic<bool>[size_t(count)]);
    for (int i = 0; i < count; ++i)
        searched[size_t(i)] = false;

    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            Turn &turn = turns[size_t(i)];
            const int port = portList.at(i);
            SearchPort own(m_ctx.searchPorts(), m_ctx.clock);
            PortProbe probe(own.device(), own.commands(), m_ctx.clock, m_ctx.stop,
                            [&] { return !every && firstFound.load() < i; });
            ListWalk walk(indexes, [&] {
                int seen = firstFound.load();
                while (i < seen && !firstFound.compare_exchange_weak(seen, i)) {
                }
            });
            turn.searched = searchPort(probe, port, turn.entry, walk);
            searched[size_t(i)] = true;
            // Every module found is read in its own thread. The one module of a plain search is read by its
            // port as soon as no port before it can answer any more: the port opens and makes its first pause
            // while the ports before it wait out their last requests, and closes unasked if one of them
            // answered after all.
            const auto alone = [&] {
                for (;;) {
                    if (firstFound.load() < i || m_ctx.stop.requested())
                        return false;
                    bool before = true;
                    for (int j = 0; j < i && before; ++j)
                        before = searched[size_t(j)].load();
                    if (before)
                        return firstFound.load() == i;
                    m_ctx.clock.sleep(1);
                }
            };
            if (turn.searched.place)
                turn.information = probe.readInformation(port, kLineSettingsTable[turn.searched.place->lineSettingsIndex],
                                                         {}, every ? std::function<bool()>() : alone);
            turn.stopped = probe.stopped();
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();

    // The report as the serial search would leave it: every port up to the one that answered.
    const int first = firstFound.load();
    for (int i = 0; i < count; ++i) {
        const Turn &turn = turns[size_t(i)];
        if (!every && i > first)
            break;
        if (turn.searched.visited && turn.entry.status.portNumber)
            m_result.report.append(turn.entry);
        m_result.stopped = m_result.stopped || turn.stopped;
    }
    if (first == INT_MAX || (!every && m_result.stopped))
        return std::nullopt;

    const Found &winner = *turns[size_t(first)].searched.place;
    remember(winner);
    if (!every)
        m_answerRead = turns[size_t(first)].information;
    if (every) {
        for (const Turn &turn : turns) {
            if (turn.searched.place)
                m_result.modules.push_back(moduleRead(*turn.searched.place, turn.entry.status.devicePath, turn.information));
        }
    }
    return winner;
}

ScanResult ScanOperation::moduleRead(const Found &place, const QString &devicePath,
                                     const InformationRead &information) const
{
    ScanResult module;
    module.place = placeOf(place);
    module.place.devicePath = devicePath;
    module.serialNumber = place.serialNumber;
    module.cutAtZeroByte.serialNumber = place.serialCut;
    information.fill(module);
    module.outcome = information.complete() ? ScanResult::Outcome::Complete : ScanResult::Outcome::InformationError;
    module.message = message(module.complete() ? Message::InfoOk : Message::InfoError) + QStringLiteral(" : #")
                     + QString::number(module.place.portNumber) + QStringLiteral(")");
    return module;
}
