#include "record_keeper.h"

#include <QSqlDatabase>

namespace {

// Records sent to the server in one transaction.
constexpr int kBatch = 200;
// How soon the server is tried again while it is away.
constexpr auto kRetry = std::chrono::seconds(2);

} // namespace

struct RecordKeeper::Sender {
    std::function<void(const QString &)> say;
    DatabaseAddress address;
    DatabaseAddress fileAddress;
    // The server connection's, for cutting it off when the program is to end at once.
    std::shared_ptr<ConnectionGuard> guard = std::make_shared<ConnectionGuard>();

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable endedWake;
    bool newRecord = false;
    bool finishing = false;
    bool now = false;   // the program is to end at once
    bool ended = false; // the thread has left its loop
    bool away = false;  // the server could not be reached, and that was said (the thread's own)
    std::atomic<qint64> sentTotal{0};
    bool identified = false; // the server's identity is known (the thread's own, once it runs)
    QString key;             // what the records wait under (under mutex)

    QString currentKey()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return key;
    }
    void setKey(const QString &value)
    {
        std::lock_guard<std::mutex> lock(mutex);
        key = value;
    }

    std::mutex sayMutex;
    bool leftBehind = false; // the keeper went on without the thread: it says nothing more

    void tell(const QString &text)
    {
        std::lock_guard<std::mutex> lock(sayMutex);
        if (!leftBehind)
            say(text);
    }
    bool stoppedNow()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return now;
    }
};

namespace {

// How long a sender told to stop at once is waited for: it returns at once from a statement (cut off), not
// from a connection being made.
constexpr auto kStopWait = std::chrono::milliseconds(1000);
// How long the last pass of a run's end may take, a server that hangs included.
constexpr auto kLastPassLimit = std::chrono::seconds(10);

std::atomic<bool> g_senderLeftBehind{false};

// A text from a module or a server, for a line of standard error: control characters shown as '?'.
QString shownText(const QString &text)
{
    QString shown;
    for (const QChar c : text)
        shown += c.isPrint() ? c : QLatin1Char('?');
    return shown;
}

} // namespace

RecordKeeper::RecordKeeper(std::function<void(const QString &)> say) : m_say(std::move(say)) {}

RecordKeeper::~RecordKeeper()
{
    finish();
}

bool RecordKeeper::senderLeftBehind()
{
    return g_senderLeftBehind;
}

QString RecordKeeper::stationFile() const
{
    return m_fileAddress.path;
}

DatabaseProblem RecordKeeper::open(const DatabaseAddress &address, QString &error, bool waitAgain)
{
    // Qt looks for its SQL drivers the first time one is asked for; done here, on the program's own thread.
    // Done first on a thread of ours, it left that thread something that MinGW's runtime crashed on freeing
    // as the thread ended.
    QSqlDatabase::drivers();
    m_address = address;
    m_fileAddress = address;
    if (address.isServer()) {
        m_fileAddress = DatabaseAddress();
        m_fileAddress.path = DatabaseAddress::defaultSqlitePath();
    }
    m_file = std::make_unique<DatabaseWorker>(m_fileAddress);
    DatabaseProblem problem = DatabaseProblem::None;
    m_file->run([&](RecordDatabase &db) { problem = db.open(RecordDatabase::Use::Write, error); });
    if (problem != DatabaseProblem::None) {
        if (address.isServer())
            error = QStringLiteral("the station's own file %1, where records wait for the server: %2")
                        .arg(m_fileAddress.path, error);
        return problem;
    }
    if (!address.isServer())
        return DatabaseProblem::None;
    m_sender = std::make_shared<Sender>();
    m_sender->say = m_say;
    m_sender->address = address;
    m_sender->fileAddress = m_fileAddress;
    QString key;
    m_file->run([&](RecordDatabase &db) { key = db.waitingKey(address.shown()); });
    {
        RecordDatabase server(address);
        QString why;
        problem = server.open(RecordDatabase::Use::Write, why);
        if (problem != DatabaseProblem::None && problem != DatabaseProblem::Unreachable) {
            error = why;
            return problem;
        }
        if (problem == DatabaseProblem::None) {
            // Records wait for the server behind the address: another address of it finds them.
            const QString identity = server.serverIdentity();
            m_file->run([&](RecordDatabase &db) {
                if (db.learnServer(address.shown(), identity, why)) {
                    key = identity;
                    m_sender->identified = true;
                }
            });
        }
        m_sender->key = key;
        if (waitAgain) {
            bool again = false;
            m_file->run([&](RecordDatabase &db) { again = db.waitAgain(key, error); });
            if (!again)
                return DatabaseProblem::Refused;
        }
        if (problem == DatabaseProblem::Unreachable) {
            m_sender->away = true;
            m_say(QStringLiteral("records: %1 cannot be reached (%2); the records wait in %3 and are sent when it "
                                 "is back")
                      .arg(address.shown(), why, m_fileAddress.path));
        }
    }
    m_thread = std::thread([sender = m_sender] {
        sendLoop(sender);
        {
            std::lock_guard<std::mutex> lock(sender->mutex);
            sender->ended = true;
        }
        sender->endedWake.notify_all();
    });
    return DatabaseProblem::None;
}

bool RecordKeeper::keep(const ModuleRecord &record, QString &error)
{
    bool kept = false;
    m_file->run([&](RecordDatabase &db) {
        kept = m_sender ? db.keepForServer(record, m_sender->currentKey(), error) : db.insert({record}, error);
    });
    if (kept && m_sender) {
        {
            std::lock_guard<std::mutex> lock(m_sender->mutex);
            m_sender->newRecord = true;
        }
        m_sender->wake.notify_one();
    }
    return kept;
}

std::optional<bool> RecordKeeper::succeededBefore(const QString &serialNumber)
{
    std::optional<bool> here;
    QString error;
    m_file->run([&](RecordDatabase &db) { here = db.succeededBefore(serialNumber, error); });
    if (here.value_or(false))
        return true;
    if (!here)
        m_say(QStringLiteral("records: %1 could not be asked about %2 (%3)")
                  .arg(m_fileAddress.path, shownText(serialNumber), error));
    if (!m_address.isServer())
        return here;
    RecordAsker *asker = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_askerMutex);
        if (!m_asker)
            m_asker = std::make_unique<RecordAsker>(m_address, m_say);
        asker = m_asker.get();
    }
    const std::optional<bool> there = asker->succeededBefore(serialNumber);
    if (there.value_or(false))
        return true;
    return there && here ? std::optional<bool>(false) : std::nullopt;
}

qint64 RecordKeeper::waiting()
{
    if (!m_file || !m_address.isServer())
        return 0;
    std::optional<qint64> count;
    QString error;
    m_file->run([&](RecordDatabase &db) { count = db.waitingCount(waitingKey(), error); });
    return count.value_or(-1);
}

qint64 RecordKeeper::sentCount() const
{
    return m_sender ? m_sender->sentTotal.load() : 0;
}

QString RecordKeeper::waitingKey() const
{
    return m_sender ? m_sender->currentKey() : m_address.shown();
}

qint64 RecordKeeper::setAside()
{
    if (!m_file || !m_address.isServer())
        return 0;
    std::optional<qint64> count;
    QString error;
    m_file->run([&](RecordDatabase &db) { count = db.setAsideCount(waitingKey(), error); });
    return count.value_or(-1);
}

qint64 RecordKeeper::finish(bool now, bool allTheWay)
{
    {
        std::lock_guard<std::mutex> lock(m_askerMutex);
        if (m_asker && m_asker->finish())
            g_senderLeftBehind = true;
    }
    if (m_thread.joinable()) {
        Sender &sender = *m_sender;
        {
            std::lock_guard<std::mutex> lock(sender.mutex);
            sender.finishing = true;
            sender.now = sender.now || now;
        }
        sender.wake.notify_all();
        const auto hasEnded = [&sender] { return sender.ended; };
        bool ended = true;
        if (!now) {
            std::unique_lock<std::mutex> lock(sender.mutex);
            if (allTheWay) {
                sender.endedWake.wait(lock, hasEnded);
            } else if (!sender.endedWake.wait_for(lock, kLastPassLimit, hasEnded)) {
                lock.unlock();
                // One pass: a % in the address is no place for the others.
                m_say(QStringLiteral("records: %1 did not take the waiting records within %2 s of the end; they "
                                     "wait in %3")
                          .arg(m_address.shown(), QString::number(std::chrono::seconds(kLastPassLimit).count()),
                               m_fileAddress.path));
                now = true;
            }
        }
        if (now) {
            {
                std::lock_guard<std::mutex> lock(sender.mutex);
                sender.now = true;
            }
            sender.guard->cutForGood();
            std::unique_lock<std::mutex> lock(sender.mutex);
            ended = sender.endedWake.wait_for(lock, kStopWait, hasEnded);
        }
        if (ended) {
            m_thread.join();
        } else {
            {
                std::lock_guard<std::mutex> lock(sender.sayMutex);
                sender.leftBehind = true;
            }
            m_thread.detach();
            g_senderLeftBehind = true;
            m_say(QStringLiteral("records: %1 was still being connected to; the program ends without waiting for "
                                 "it")
                      .arg(m_address.shown()));
        }
    }
    return waiting();
}

// Sends the waiting records in batches; the number sent. sendFailed: the server could not take them.
int RecordKeeper::sendWaiting(Sender &sender, RecordDatabase &file, RecordDatabase &server, bool &sendFailed)
{
    QString key = sender.currentKey();
    int sent = 0;
    QString error;
    sendFailed = false;
    for (;;) {
        if (sender.stoppedNow()) {
            sendFailed = true;
            return sent;
        }
        const std::optional<QList<ModuleRecord>> batch = file.waitingFor(key, kBatch, error);
        if (!batch) {
            sender.tell(QStringLiteral("records: %1 could not be read (%2)").arg(sender.fileAddress.path, error));
            sendFailed = true;
            return sent;
        }
        if (batch->isEmpty())
            return sent;
        if (!server.isOpen() && server.open(RecordDatabase::Use::Write, error) != DatabaseProblem::None) {
            server.close();
        } else if (!sender.identified && identify(sender, file, server, key)) {
            continue; // what waited under the address waits under the server's identity now
        } else if (!server.insert(*batch, error)) {
            // A record the server turns away for what it holds: the batch goes one record at a time, and only
            // that record is held back.
            if (server.lastProblem() == DatabaseProblem::Rejected) {
                sent += sendSingly(sender, file, server, *batch, sendFailed);
                if (!sendFailed)
                    continue;
                return sent;
            }
            // The connection may be gone with the server: a new one next time.
            server.close();
        } else {
            // On the server now; a record sent again after a crash here is one the server has, and keeps once.
            if (!file.markSent(*batch, key, error))
                sender.tell(
                    QStringLiteral("records: %1 could not be updated (%2)").arg(sender.fileAddress.path, error));
            sent += int(batch->size());
            sender.sentTotal += batch->size();
            continue;
        }
        if (!sender.away && !sender.stoppedNow()) {
            sender.away = true;
            sender.tell(QStringLiteral("records: %1 cannot be reached (%2); the records wait in %3 and are sent "
                                       "when it is back")
                            .arg(sender.address.shown(), error, sender.fileAddress.path));
        }
        sendFailed = true;
        return sent;
    }
}

// The batch one record at a time: each sent, or set aside when the server turns it away (said once, as it is
// set aside); the number sent. sendFailed: the server could not take a record for another reason.
// Learns what identifies the server now reached (first reached by this thread); whether the key changed.
bool RecordKeeper::identify(Sender &sender, RecordDatabase &file, RecordDatabase &server, QString &key)
{
    sender.identified = true;
    const QString identity = server.serverIdentity();
    QString error;
    if (identity == key || !file.learnServer(sender.address.shown(), identity, error))
        return false;
    sender.setKey(identity);
    key = identity;
    return true;
}

int RecordKeeper::sendSingly(Sender &sender, RecordDatabase &file, RecordDatabase &server,
                             const QList<ModuleRecord> &batch, bool &sendFailed)
{
    const QString key = sender.currentKey();
    int sent = 0;
    for (const ModuleRecord &record : batch) {
        QString error;
        if (server.insert({record}, error)) {
            if (!file.markSent({record}, key, error))
                sender.tell(
                    QStringLiteral("records: %1 could not be updated (%2)").arg(sender.fileAddress.path, error));
            ++sent;
            ++sender.sentTotal;
            continue;
        }
        if (server.lastProblem() != DatabaseProblem::Rejected) {
            server.close();
            sendFailed = true;
            return sent;
        }
        QString why;
        if (!file.setAside(record, key, error, why)) {
            sender.tell(QStringLiteral("records: %1 could not be updated (%2)").arg(sender.fileAddress.path, why));
            sendFailed = true;
            return sent;
        }
        sender.tell(QStringLiteral("records: %1 turned the record of module %2 away (%3); it is set aside in %4, "
                                   "and records sync sends it again once that is mended")
                        .arg(sender.address.shown(), shownText(record.serialNumber), shownText(error),
                             sender.fileAddress.path));
    }
    return sent;
}

void RecordKeeper::sendLoop(const std::shared_ptr<Sender> &sender)
{
    Sender &s = *sender;
    RecordDatabase file(s.fileAddress);
    RecordDatabase server(s.address, s.guard);
    int sentSinceAway = 0;
    bool fileSaid = false;
    for (;;) {
        // A pass begun once the end was asked for is the last, and sees every record kept before it; none
        // when the program is to end at once.
        bool finishing = false;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.now)
                return;
            finishing = s.finishing;
        }
        bool failed = false;
        int sent = 0;
        QString error;
        // The station's file is kept open; one that could not be opened (locked a long while) is tried again.
        if (!file.isOpen() && file.open(RecordDatabase::Use::Write, error) != DatabaseProblem::None) {
            file.close();
            failed = true;
            if (!fileSaid)
                s.tell(QStringLiteral("records: %1 could not be opened to send its records (%2); trying again")
                           .arg(s.fileAddress.path, error));
            fileSaid = true;
        } else {
            sent = sendWaiting(s, file, server, failed);
        }
        sentSinceAway += sent;
        // Back only once it has taken records again.
        if (!failed && s.away && server.isOpen()) {
            s.away = false;
            s.tell(QStringLiteral("records: %1 is back; %2 waiting record%3 sent")
                       .arg(s.address.shown(), QString::number(sentSinceAway),
                            sentSinceAway == 1 ? QString() : QStringLiteral("s")));
        }
        if (!s.away)
            sentSinceAway = 0;
        if (finishing)
            return;
        std::unique_lock<std::mutex> lock(s.mutex);
        // A new record wakes the sender; while the server is away it is tried again every little while.
        s.wake.wait_for(lock, kRetry, [&s] { return s.newRecord || s.finishing; });
        s.newRecord = false;
    }
}
