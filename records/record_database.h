#pragma once

#include "connection_guard.h"
#include "database_address.h"
#include "module_record.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <QSqlError>

class QSqlQuery;

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Why a database could not be used.
enum class DatabaseProblem {
    None,
    BadUrl,      // the address is not understood, or its driver is not installed
    Refused,     // the server or the file would not let us in: credentials, no such database, not a records file
    ReadOnly,    // it may be read, not written
    Unreachable, // no answer from the server: it is away, or the network is
    Rejected,    // the server turned a record away for what it holds (a check, a trigger, a rule there)
};

// What a SQLSTATE (PostgreSQL's own, or the standard's through an ODBC driver) says of the database.
DatabaseProblem problemOfState(const QString &state);

// Records counted by station and outcome.
struct RecordCount {
    QString station;
    QString outcome;
    qint64 count = 0;
};

// How long a server gets to answer one thing asked of it, unless told otherwise.
constexpr int kServerAnswerLimitMs = 15000;

// One connection to a records database, used only in the thread that made it (as Qt SQL wants).
class RecordDatabase {
public:
    enum class Use { Read, Write };

    // guard: what holds a server connection to its time limits, shared with whoever may have to cut it off (a
    // connection of its own when none is given).
    explicit RecordDatabase(const DatabaseAddress &address, std::shared_ptr<ConnectionGuard> guard = {});
    ~RecordDatabase();
    RecordDatabase(const RecordDatabase &) = delete;
    RecordDatabase &operator=(const RecordDatabase &) = delete;

    // Connects. For writing, the tables are made when missing and a write is tried (and taken back), so that
    // a database that cannot take records says so before any port is touched. Reading a database without
    // the table finds no records.
    DatabaseProblem open(Use use, QString &error);
    void close();
    bool isOpen() const;
    // What the last error of a statement or of the connection says of the database.
    DatabaseProblem lastProblem() const { return problemOf(m_failure); }
    const DatabaseAddress &address() const { return m_address; }
    // How long a server gets for each thing asked of it (a statement, a transaction of records) before the
    // connection is cut off and the server counts as unreachable.
    void setAnswerLimit(std::chrono::milliseconds limit) { m_answerLimit = limit; }

    // Adds the records in one transaction; a record whose id is there already is left as it is.
    bool insert(const QList<ModuleRecord> &records, QString &error);
    // The module's records, oldest first.
    std::optional<QList<ModuleRecord>> history(const QString &serialNumber, QString &error);
    // Counts by station and outcome, of the records since the time given (all when it is not valid).
    std::optional<QList<RecordCount>> summary(const QDateTime &since, QString &error);
    // Whether the module has a record of a successful set-up (ok, already-set).
    std::optional<bool> succeededBefore(const QString &serialNumber, QString &error);

    // The spool (a SQLite file): the record kept, and noted as waiting for the server, in one transaction.
    bool keepForServer(const ModuleRecord &record, const QString &server, QString &error);
    // The records waiting for the server, oldest first, at most limit.
    std::optional<QList<ModuleRecord>> waitingFor(const QString &server, int limit, QString &error);
    bool markSent(const QList<ModuleRecord> &records, const QString &server, QString &error);
    std::optional<qint64> waitingCount(const QString &server, QString &error);
    // A record the server turned away for what it holds: no longer waiting, kept aside with the server's reason.
    bool setAside(const ModuleRecord &record, const QString &server, const QString &reason, QString &error);
    std::optional<qint64> setAsideCount(const QString &server, QString &error);
    // The records set aside for the server wait again, after those that wait already.
    bool waitAgain(const QString &server, QString &error);

    // A server: what identifies it whatever address reaches it. PostgreSQL's system identifier with the
    // database's name; for other servers the address in a normal form.
    QString serverIdentity();
    // The spool: the address reaches the server identified so; what waits for that address, or for another
    // address of the same server, waits for the server from now on.
    bool learnServer(const QString &address, const QString &identity, QString &error);
    // What the records for the address wait under: the server's identity once it is known, the address before.
    QString waitingKey(const QString &address);
    // The records that wait for other servers than this key's, by server.
    std::optional<QList<QPair<QString, qint64>>> waitingElsewhere(const QString &key, QString &error);

private:
    DatabaseProblem openConnection(Use use, QString &error);
    // Begins a transaction that will write.
    bool begin(QString &error);
    // Runs work in one transaction: committed when it returns true, taken back otherwise.
    bool inTransaction(const std::function<bool()> &work, QString &error);
    bool makeTables(QString &error);
    bool tryWrite(QString &error);
    DatabaseProblem problemOf(const QSqlError &error) const;
    bool insertOne(const ModuleRecord &record, QString &error);
    // The record's place in the outbox for the server (under its key or an address of the same server), gone.
    bool removeWaiting(const QString &id, const QString &server, QString &error);
    // The rows of the table kept for the server, under its key or an address of the same server.
    std::optional<qint64> countFor(const QString &table, const QString &server, QString &error);
    // The error's text, kept for problemOf; query: the statement that failed, when one did (an ODBC driver's
    // SQLSTATE is read from its handle).
    QString noteError(const QSqlError &error, const QSqlQuery *query = nullptr);

    // The code of the error of an insert that changed no row without a record of its id being there.
    static constexpr const char *kSwallowedCode = "swallowed";

    DatabaseAddress m_address;
    std::shared_ptr<ConnectionGuard> m_guard;
    std::chrono::milliseconds m_answerLimit{kServerAnswerLimitMs};
    QString m_connection;
    bool m_hasTable = false;
    bool m_madeFile = false; // the SQLite file was made by this open
    QSqlError m_failure; // the last error a statement or the connection gave
    QString m_odbcState; // its SQLSTATE and words, from an ODBC driver
    QString m_odbcText;
};

// The schema this version writes; a database with a newer one is only read.
constexpr int kRecordSchemaVersion = 1;
