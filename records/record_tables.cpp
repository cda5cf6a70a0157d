#include "record_database.h"

#include "record_tables.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace {

// The record a write is tried with when a database is opened for writing; never committed.
const QString kTrialId = QStringLiteral("00000000-0000-0000-0000-000000000000");

} // namespace

bool RecordDatabase::makeTables(QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QStringList statements;
    switch (m_address.kind) {
    case DatabaseAddress::Kind::SQLite:
        statements << QStringLiteral("CREATE TABLE IF NOT EXISTS module_record (%1)")
                          .arg(tableColumnDefinitions(RecordDialect::SQLite))
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS record_outbox (id TEXT NOT NULL, server TEXT NOT NULL, "
                                     "PRIMARY KEY (id, server))")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS record_set_aside (id TEXT NOT NULL, server TEXT NOT NULL, "
                                     "reason TEXT NOT NULL, PRIMARY KEY (id, server))")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS record_server (address TEXT PRIMARY KEY, "
                                     "identity TEXT NOT NULL)");
        break;
    case DatabaseAddress::Kind::PostgreSQL:
        statements << QStringLiteral("CREATE TABLE IF NOT EXISTS module_record (%1)")
                          .arg(tableColumnDefinitions(RecordDialect::PostgreSQL));
        break;
    case DatabaseAddress::Kind::Odbc:
        // Plain SQL that most servers take: no IF NOT EXISTS, sized text for the index.
        if (!m_hasTable)
            statements << QStringLiteral("CREATE TABLE module_record (%1)")
                              .arg(tableColumnDefinitions(RecordDialect::Plain));
        break;
    }
    const bool plain = m_address.kind == DatabaseAddress::Kind::Odbc;
    if (!m_hasTable)
        statements << (plain ? QStringLiteral("CREATE INDEX module_record_serial_number ON module_record (serial_number)")
                             : QStringLiteral("CREATE INDEX IF NOT EXISTS module_record_serial_number "
                                              "ON module_record (serial_number)"));
    if (!db.tables().contains(kSchemaTable)) {
        statements << (plain ? QStringLiteral("CREATE TABLE modulebench_schema (version INTEGER NOT NULL)")
                             : QStringLiteral("CREATE TABLE IF NOT EXISTS modulebench_schema (version INTEGER NOT NULL)"))
                   << QStringLiteral("INSERT INTO modulebench_schema (version) VALUES (%1)").arg(kRecordSchemaVersion);
    }
    return inTransaction([&] {
        for (const QString &statement : statements) {
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                error = noteError(query.lastError(), &query);
                return false;
            }
        }
        return true;
    }, error);
}

bool RecordDatabase::tryWrite(QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    ModuleRecord trial = ModuleRecord::make();
    trial.id = kTrialId;
    trial.time = QDateTime::currentDateTimeUtc();
    trial.outcome = QStringLiteral("trial");
    if (!begin(error))
        return false;
    const bool written = insertOne(trial, error);
    db.rollback();
    return written;
}


namespace {

// An ODBC connection string in a normal form, without its password (masked before, braces and all): its pairs
// with their keys in capitals, in the order of their keys.
QString normalOdbcString(const QString &connectionString)
{
    QStringList pairs;
    for (const QString &pair : connectionString.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0).trimmed().toUpper();
        if (key == QLatin1String("PWD") || key == QLatin1String("PASSWORD") || key.isEmpty())
            continue;
        pairs << key + QLatin1Char('=') + pair.section(QLatin1Char('='), 1).trimmed();
    }
    pairs.sort();
    return pairs.join(QLatin1Char(';'));
}

} // namespace

QString RecordDatabase::serverIdentity()
{
    if (m_address.kind == DatabaseAddress::Kind::PostgreSQL) {
        const GuardedStatement limited(m_guard.get(), m_answerLimit);
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (query.exec(QStringLiteral("SELECT system_identifier::text, current_database() FROM pg_control_system()"))
            && query.next())
            return QStringLiteral("postgresql-system:%1/%2").arg(query.value(0).toString(), query.value(1).toString());
        // A role that may not read the control data: the address, as given.
    }
    if (m_address.kind == DatabaseAddress::Kind::Odbc)
        return QStringLiteral("odbc:")
               + normalOdbcString(DatabaseAddress::shownConnectionString(m_address.connectionString));
    return m_address.shown();
}

bool RecordDatabase::learnServer(const QString &address, const QString &identity, QString &error)
{
    return inTransaction([&] {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery known(db);
        known.prepare(QStringLiteral("INSERT OR REPLACE INTO record_server (address, identity) VALUES (?, ?)"));
        known.addBindValue(address);
        known.addBindValue(identity);
        if (!known.exec()) {
            error = noteError(known.lastError(), &known);
            return false;
        }
        for (const QString &table : {kOutboxTable, kSetAsideTable}) {
            QSqlQuery moved(db);
            moved.prepare(QStringLiteral("UPDATE OR REPLACE %1 SET server = ? WHERE server IN "
                                         "(SELECT address FROM record_server WHERE identity = ?)")
                              .arg(table));
            moved.addBindValue(identity);
            moved.addBindValue(identity);
            if (!moved.exec()) {
                error = noteError(moved.lastError(), &moved);
                return false;
            }
        }
        return true;
    }, error);
}

QString RecordDatabase::waitingKey(const QString &address)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT identity FROM record_server WHERE address = ?"));
    query.addBindValue(address);
    if (query.exec() && query.next())
        return query.value(0).toString();
    return address;
}

std::optional<QList<QPair<QString, qint64>>> RecordDatabase::waitingElsewhere(const QString &key, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT o.server, COUNT(*), (SELECT MIN(s.address) FROM record_server s "
                                 "WHERE s.identity = o.server) FROM record_outbox o "
                                 "WHERE o.server <> ? GROUP BY o.server ORDER BY o.server"));
    query.addBindValue(key);
    if (!query.exec()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    QList<QPair<QString, qint64>> counts;
    while (query.next()) {
        // Named by an address that reaches it, when one is known.
        const QString name = query.value(2).isNull() ? query.value(0).toString() : query.value(2).toString();
        counts << qMakePair(name, query.value(1).toLongLong());
    }
    return counts;
}
