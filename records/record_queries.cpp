#include "record_database.h"

#include "record_tables.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

QVariant optionalText(const std::optional<QString> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<QString>());
}

QDateTime timeOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().toUTC();
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

ModuleRecord recordOf(const QSqlQuery &query)
{
    ModuleRecord record;
    int column = 0;
    for (const RecordField field : tableRecordFields()) {
        const QVariant value = query.value(column++);
        switch (field) {
        case RecordField::Id: record.id = value.toString(); break;
        case RecordField::Time: record.time = timeOf(value); break;
        case RecordField::Station: record.station = value.toString(); break;
        case RecordField::Port: record.port = value.toString(); break;
        case RecordField::LineSettings: record.lineSettings = value.toString(); break;
        case RecordField::SerialNumber: record.serialNumber = value.toString(); break;
        case RecordField::Version:
            if (!value.isNull())
                record.version = value.toString();
            break;
        case RecordField::CustomerRegister:
            if (!value.isNull())
                record.customerRegister = value.toString();
            break;
        case RecordField::Outcome: record.outcome = value.toString(); break;
        case RecordField::DurationMs: record.durationMs = value.toLongLong(); break;
        case RecordField::ToolVersion: record.toolVersion = value.toString(); break;
        }
    }
    return record;
}

namespace {

// The value a field is bound as: a text that is always there is empty, never NULL, when there is nothing in
// it; the time in UTC.
QVariant boundValue(const ModuleRecord &record, RecordField field)
{
    const auto text = [](const QString &value) { return value.isNull() ? QStringLiteral("") : value; };
    switch (field) {
    case RecordField::Time: return ModuleRecord::timeText(record.time);
    case RecordField::Version: return optionalText(record.version);
    case RecordField::CustomerRegister: return optionalText(record.customerRegister);
    case RecordField::DurationMs: return record.durationMs;
    default: return text(recordText(record, field));
    }
}

} // namespace

bool RecordDatabase::insertOne(const ModuleRecord &record, QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const bool plain = m_address.kind == DatabaseAddress::Kind::Odbc;
    if (plain) {
        // No INSERT that ignores a key already there in plain SQL: looked for first. Only this station sends
        // its own records, one sender at a time.
        QSqlQuery there(db);
        there.prepare(QStringLiteral("SELECT COUNT(*) FROM module_record WHERE id = ?"));
        there.addBindValue(record.id);
        if (!there.exec() || !there.next()) {
            error = noteError(there.lastError(), &there);
            return false;
        }
        if (there.value(0).toLongLong() > 0)
            return true;
    }
    QSqlQuery query(db);
    QStringList marks;
    for (int i = 0; i < tableRecordFields().size(); ++i)
        marks << QStringLiteral("?");
    query.prepare(QStringLiteral("INSERT INTO module_record (%1) VALUES (%2)%3")
                      .arg(tableColumnList(), marks.join(QStringLiteral(", ")),
                           plain ? QString() : QStringLiteral(" ON CONFLICT (id) DO NOTHING")));
    for (const RecordField field : tableRecordFields())
        query.addBindValue(boundValue(record, field));
    if (!query.exec()) {
        error = noteError(query.lastError(), &query);
        return false;
    }
    const int changed = query.numRowsAffected();
    if (changed == 1)
        return true;
    // None: a record with its id is there already (sent before), or a trigger or a rule took the record in
    // without keeping it, which is no record kept.
    QSqlQuery there(db);
    there.prepare(QStringLiteral("SELECT COUNT(*) FROM module_record WHERE id = ?"));
    there.addBindValue(record.id);
    if (!there.exec() || !there.next()) {
        error = noteError(there.lastError(), &there);
        return false;
    }
    if (changed == 0 && there.value(0).toLongLong() == 1)
        return true;
    error = QStringLiteral("the database took the record in without keeping it (%1 rows changed): a trigger or a "
                           "rule there swallows it")
                .arg(changed);
    m_failure = QSqlError(error, error, QSqlError::StatementError, QLatin1String(kSwallowedCode));
    m_odbcState.clear();
    return false;
}

bool RecordDatabase::insert(const QList<ModuleRecord> &records, QString &error)
{
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    return inTransaction([&] {
        for (const ModuleRecord &record : records) {
            if (!insertOne(record, error))
                return false;
        }
        return true;
    }, error);
}

std::optional<QList<ModuleRecord>> RecordDatabase::history(const QString &serialNumber, QString &error)
{
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    QList<ModuleRecord> records;
    if (!m_hasTable)
        return records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM module_record WHERE serial_number = ? ORDER BY time").arg(tableColumnList()));
    query.addBindValue(serialNumber);
    if (!query.exec()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    while (query.next())
        records << recordOf(query);
    return records;
}

std::optional<QList<RecordCount>> RecordDatabase::summary(const QDateTime &since, QString &error)
{
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    QList<RecordCount> counts;
    if (!m_hasTable)
        return counts;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT station, outcome, COUNT(*) FROM module_record%1 "
                                 "GROUP BY station, outcome ORDER BY station, outcome")
                      .arg(since.isValid() ? QStringLiteral(" WHERE time >= ?") : QString()));
    if (since.isValid())
        query.addBindValue(ModuleRecord::timeText(since));
    if (!query.exec()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    while (query.next())
        counts << RecordCount{query.value(0).toString(), query.value(1).toString(), query.value(2).toLongLong()};
    return counts;
}

std::optional<bool> RecordDatabase::succeededBefore(const QString &serialNumber, QString &error)
{
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    if (!m_hasTable)
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM module_record WHERE serial_number = ? "
                                 "AND outcome IN ('ok', 'already-set')"));
    query.addBindValue(serialNumber);
    if (!query.exec() || !query.next()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    return query.value(0).toLongLong() > 0;
}

bool RecordDatabase::keepForServer(const ModuleRecord &record, const QString &server, QString &error)
{
    return inTransaction([&] {
        if (!insertOne(record, error))
            return false;
        QSqlQuery waiting(QSqlDatabase::database(m_connection, false));
        waiting.prepare(QStringLiteral("INSERT OR IGNORE INTO record_outbox (id, server) VALUES (?, ?)"));
        waiting.addBindValue(record.id);
        waiting.addBindValue(server);
        if (!waiting.exec()) {
            error = noteError(waiting.lastError(), &waiting);
            return false;
        }
        return true;
    }, error);
}

std::optional<QList<ModuleRecord>> RecordDatabase::waitingFor(const QString &server, int limit, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM record_outbox o JOIN module_record r ON r.id = o.id "
                                 "WHERE o.server = ? OR o.server IN "
                                 "(SELECT address FROM record_server WHERE identity = ?) ORDER BY o.rowid LIMIT ?")
                      .arg(tableColumnList(QStringLiteral("r."))));
    // Under the key, and under an address of the same server (a record kept as the server was identified).
    query.addBindValue(server);
    query.addBindValue(server);
    query.addBindValue(limit);
    if (!query.exec()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    QList<ModuleRecord> records;
    while (query.next())
        records << recordOf(query);
    return records;
}

bool RecordDatabase::markSent(const QList<ModuleRecord> &records, const QString &server, QString &error)
{
    return inTransaction([&] {
        for (const ModuleRecord &record : records) {
            if (!removeWaiting(record.id, server, error))
                return false;
        }
        return true;
    }, error);
}

bool RecordDatabase::removeWaiting(const QString &id, const QString &server, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("DELETE FROM record_outbox WHERE id = ? AND (server = ? OR server IN "
                                 "(SELECT address FROM record_server WHERE identity = ?))"));
    query.addBindValue(id);
    query.addBindValue(server);
    query.addBindValue(server);
    if (query.exec())
        return true;
    error = noteError(query.lastError(), &query);
    return false;
}

std::optional<qint64> RecordDatabase::countFor(const QString &table, const QString &server, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    // Under the key, and under any address of the same server not yet moved to it.
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE server = ? "
                                 "OR server IN (SELECT address FROM record_server WHERE identity = ?)")
                      .arg(table));
    query.addBindValue(server);
    query.addBindValue(server);
    if (!query.exec() || !query.next()) {
        error = noteError(query.lastError(), &query);
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<qint64> RecordDatabase::waitingCount(const QString &server, QString &error)
{
    return countFor(QStringLiteral("record_outbox"), server, error);
}

bool RecordDatabase::setAside(const ModuleRecord &record, const QString &server, const QString &reason, QString &error)
{
    return inTransaction([&] {
        QSqlQuery aside(QSqlDatabase::database(m_connection, false));
        aside.prepare(QStringLiteral("INSERT OR REPLACE INTO record_set_aside (id, server, reason) VALUES (?, ?, ?)"));
        aside.addBindValue(record.id);
        aside.addBindValue(server);
        aside.addBindValue(reason);
        if (!aside.exec()) {
            error = noteError(aside.lastError(), &aside);
            return false;
        }
        return removeWaiting(record.id, server, error);
    }, error);
}

std::optional<qint64> RecordDatabase::setAsideCount(const QString &server, QString &error)
{
    return countFor(QStringLiteral("record_set_aside"), server, error);
}

bool RecordDatabase::waitAgain(const QString &server, QString &error)
{
    return inTransaction([&] {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery again(db);
        again.prepare(QStringLiteral("INSERT OR IGNORE INTO record_outbox (id, server) "
                                     "SELECT id, server FROM record_set_aside WHERE server = ? ORDER BY rowid"));
        again.addBindValue(server);
        QSqlQuery gone(db);
        gone.prepare(QStringLiteral("DELETE FROM record_set_aside WHERE server = ?"));
        gone.addBindValue(server);
        if (!again.exec()) {
            error = noteError(again.lastError(), &again);
            return false;
        }
        if (!gone.exec()) {
            error = noteError(gone.lastError(), &gone);
            return false;
        }
        return true;
    }, error);
}
