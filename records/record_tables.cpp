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
                                     "reason TEXT NOT NULL, PRIMARY KEY (id, server))");
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

