#pragma once

#include "database_worker.h"
#include "record_asker.h"
#include "record_database.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Where a station's records go (--db): a SQLite file, or a server with the station's own SQLite file in
// front of it. Each record is committed to the file first, as durably as the CSV file's records, and only
// then sent to the server, by a thread of its own; while the server cannot be reached the records wait in
// the file, and go in their order when it is back. Each is sent under its id, which the server keeps once.
class RecordKeeper {
public:
    // say: a line for the technician (the server went away, is back...), from any thread.
    explicit RecordKeeper(std::function<void(const QString &)> say);
    ~RecordKeeper();
    RecordKeeper(const RecordKeeper &) = delete;
    RecordKeeper &operator=(const RecordKeeper &) = delete;

    // Opens the database and, for a server, the station's file: before any port is touched, so that a
    // database that cannot take records is known at once. A server that is away only means records wait.
    // waitAgain: the records the server turned away before wait again (records sync), to be sent first.
    DatabaseProblem open(const DatabaseAddress &address, QString &error, bool waitAgain = false);
    const DatabaseAddress &address() const { return m_address; }
    QString stationFile() const;

    // Commits the record to the station's file (a server gets it soon after). Any thread.
    bool keep(const ModuleRecord &record, QString &error);
    // Whether the module has been recorded ok (or already set) before: in the station's own file (a record may
    // still wait there) and on the server. Nothing when the station's records say no and the server could not
    // be asked within a moment (the fixture then goes on with the station's own records). Any thread.
    std::optional<bool> succeededBefore(const QString &serialNumber);
    // Ends the sending: what waits is sent once more first (each thing asked of the server within its time
    // limit; the whole of it within 10 s unless allTheWay, as records sync sends), unless now, when the
    // program is to end at once (Ctrl-C, SIGTERM, its time up): then the sending stops where it is, a
    // statement the server has not answered is cut off, and what was not sent waits in the station's file.
    // How many records wait.
    qint64 finish(bool now = false, bool allTheWay = false);
    // How many records wait for the server now.
    qint64 waiting();
    // How many records the server turned away for what they hold, set aside in the station's file.
    qint64 setAside();
    // How many records this keeper has sent to the server.
    qint64 sentCount() const;
    // What the records wait under in the station's file: the server's identity once known, its address before.
    QString waitingKey() const;

    // Whether a sender had to be left inside the server's client library (making a connection, which nothing
    // cuts short before its connect time-out) when the program was to end at once: the process then ends by
    // std::_Exit once its output is written, so that no exit handler runs under that thread.
    static bool senderLeftBehind();

private:
    // What the sending thread shares with the keeper; the thread holds it too, so that one left behind
    // never touches a keeper that has gone.
    struct Sender;
    static void sendLoop(const std::shared_ptr<Sender> &sender);
    static int sendWaiting(Sender &sender, RecordDatabase &file, RecordDatabase &server, bool &sendFailed);
    static bool identify(Sender &sender, RecordDatabase &file, RecordDatabase &server, QString &key);
    static int sendSingly(Sender &sender, RecordDatabase &file, RecordDatabase &server,
                          const QList<ModuleRecord> &batch, bool &sendFailed);

    DatabaseAddress m_address;
    DatabaseAddress m_fileAddress;
    std::unique_ptr<DatabaseWorker> m_file;
    std::shared_ptr<Sender> m_sender;
    std::thread m_thread;
    std::function<void(const QString &)> m_say;
    std::unique_ptr<RecordAsker> m_asker; // the server's questions, once one is asked
    std::mutex m_askerMutex;
};
