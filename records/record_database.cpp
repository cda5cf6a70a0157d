#include "record_database.h"

#include "record_tables.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

// How long a SQLite file another connection is writing is waited for.
constexpr int kBusyTimeoutMs = 10000;

QString driverOf(DatabaseAddress::Kind kind)
{
    switch (kind) {
    case DatabaseAddress::Kind::SQLite: return QStringLiteral("QSQLITE");
    case DatabaseAddress::Kind::PostgreSQL: return QStringLiteral("QPSQL");
    case DatabaseAddress::Kind::Odbc: return QStringLiteral("QODBC");
    }
    return {};
}

QString errorText(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // libpq's messages run over several lines.
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

} // namespace

RecordDatabase::RecordDatabase(const DatabaseAddress &address, std::shared_ptr<ConnectionGuard> guard)
    : m_address(address),
      m_guard(guard || !address.isServer() ? std::move(guard) : std::make_shared<ConnectionGuard>()),
      m_connection(QStringLiteral("records-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

RecordDatabase::~RecordDatabase()
{
    close();
}

void RecordDatabase::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    if (m_guard)
        m_guard->detach();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QString RecordDatabase::noteError(const QSqlError &error)
{
    m_failure = error;
    if (m_guard && m_guard->timedOut()) {
        // Cut off for its time: the broken connection's own words would only say it broke.
        m_failure = QSqlError(error.driverText(), QString(), QSqlError::ConnectionError);
        return QStringLiteral("no answer within %1 s").arg(m_answerLimit.count() / 1000.0);
    }
    if (m_guard && m_guard->isCutForGood()) {
        m_failure = QSqlError(error.driverText(), QString(), QSqlError::ConnectionError);
        return QStringLiteral("the program is ending");
    }
    return errorText(error);
}

bool RecordDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connection) && QSqlDatabase::database(m_connection, false).isOpen();
}

DatabaseProblem RecordDatabase::problemOf(const QSqlError &error) const
{
    const QString code = error.nativeErrorCode();
    const QString text = errorText(error);
    switch (m_address.kind) {
    case DatabaseAddress::Kind::SQLite:
        // SQLITE_READONLY, and SQLITE_CANTOPEN for a file opened to read only.
        return code == QLatin1String("8") ? DatabaseProblem::ReadOnly : DatabaseProblem::Refused;
    case DatabaseAddress::Kind::PostgreSQL:
        // No privilege to insert; a read-only transaction (a standby, default_transaction_read_only).
        if (code == QLatin1String("42501") || code == QLatin1String("25006"))
            return DatabaseProblem::ReadOnly;
        // Turned away by the server itself (credentials, no such database or role) comes as a FATAL
        // message; a server starting up or shutting down only asks to come back.
        if (text.contains(QLatin1String("FATAL")) && !text.contains(QLatin1String("the database system is")))
            return DatabaseProblem::Refused;
        if (error.type() == QSqlError::ConnectionError || code.isEmpty() || code.startsWith(QLatin1String("08"))
            || code.startsWith(QLatin1String("57P")))
            return DatabaseProblem::Unreachable;
        return DatabaseProblem::Refused;
    case DatabaseAddress::Kind::Odbc:
        if (text.contains(QLatin1String("28000")))
            return DatabaseProblem::Refused;
        if (text.contains(QLatin1String("42000")) || text.contains(QLatin1String("25000")))
            return DatabaseProblem::ReadOnly;
        return error.type() == QSqlError::ConnectionError ? DatabaseProblem::Unreachable : DatabaseProblem::Refused;
    }
    return DatabaseProblem::Refused;
}

DatabaseProblem RecordDatabase::open(Use use, QString &error)
{
    close();
    const QString driver = driverOf(m_address.kind);
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        error = QStringLiteral("Qt's %1 driver is not installed").arg(driver);
        return DatabaseProblem::BadUrl;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connection);
    switch (m_address.kind) {
    case DatabaseAddress::Kind::SQLite: {
        const QFileInfo file(m_address.path);
        // A FIFO or a device would hold the program up, or be written through.
        if (file.exists() && !file.isFile()) {
            error = QStringLiteral("%1 is not a regular file").arg(m_address.path);
            return DatabaseProblem::Refused;
        }
        if (use == Use::Read && !file.exists()) {
            error = QStringLiteral("no such file");
            return DatabaseProblem::Refused;
        }
        if (use == Use::Write && m_address.path == DatabaseAddress::defaultSqlitePath())
            QDir().mkpath(file.absolutePath());
        db.setDatabaseName(m_address.path);
        QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
        if (use == Use::Read)
            options += QStringLiteral(";QSQLITE_OPEN_READONLY");
        db.setConnectOptions(options);
        break;
    }
    case DatabaseAddress::Kind::PostgreSQL:
        db.setHostName(m_address.host);
        if (m_address.port > 0)
            db.setPort(m_address.port);
        db.setDatabaseName(m_address.database);
        db.setUserName(m_address.user);
        db.setPassword(m_address.password);
        db.setConnectOptions(m_address.connectOptions);
        break;
    case DatabaseAddress::Kind::Odbc:
        db.setDatabaseName(m_address.connectionString);
        break;
    }
    if (!db.open()) {
        error = noteError(db.lastError());
        return problemOf(m_failure);
    }
    if (m_guard)
        m_guard->attach(db.driver()->handle());
    // The connection is made (within its connect time-out); what follows is held to the answer limit.
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    if (m_address.kind == DatabaseAddress::Kind::SQLite) {
        QSqlQuery pragma(db);
        // A file that is no SQLite database (a text file, a CSV file given by mistake) says so here.
        if (!pragma.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            error = noteError(pragma.lastError());
            return DatabaseProblem::Refused;
        }
        // Each commit on the disk before it counts, as the CSV file's records are.
        pragma.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    }

    const QStringList tables = db.tables();
    m_hasTable = tables.contains(kRecordTable);
    if (use == Use::Read) {
        // A records table whose file is no database at all shows here.
        if (db.lastError().isValid()) {
            error = noteError(db.lastError());
            return problemOf(m_failure);
        }
        return DatabaseProblem::None;
    }
    const bool needsOutbox = m_address.kind == DatabaseAddress::Kind::SQLite && !tables.contains(kOutboxTable);
    if (!m_hasTable || !tables.contains(kSchemaTable) || needsOutbox) {
        if (m_hasTable && !tables.contains(kSchemaTable)) {
            error = QStringLiteral("it has a table %1 of another program's (no %2 beside it)").arg(kRecordTable, kSchemaTable);
            return DatabaseProblem::Refused;
        }
        if (!makeTables(error)) {
            // Another station may have made them at the same moment.
            if (!db.tables().contains(kRecordTable) || !db.tables().contains(kSchemaTable))
                return problemOf(m_failure);
        }
        m_hasTable = true;
    }
    int schema = 0;
    {
        QSqlQuery version(db);
        if (!version.exec(QStringLiteral("SELECT MAX(version) FROM ") + kSchemaTable) || !version.next()) {
            error = noteError(version.lastError());
            return problemOf(m_failure);
        }
        schema = version.value(0).toInt();
        // Done with before the write below: a SQLite connection still reading would be refused the write at
        // once, while another connection writes, instead of waiting its turn.
        version.finish();
    }
    if (schema > kRecordSchemaVersion) {
        error = QStringLiteral("its records are of a newer version of the tool (schema %1; this one writes %2)")
                    .arg(schema)
                    .arg(kRecordSchemaVersion);
        return DatabaseProblem::ReadOnly;
    }
    if (!tryWrite(error))
        return problemOf(m_failure);
    return DatabaseProblem::None;
}

bool RecordDatabase::begin(QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (m_address.kind != DatabaseAddress::Kind::SQLite) {
        if (db.transaction())
            return true;
        error = noteError(db.lastError());
        return false;
    }
    // SQLite: the write lock at once, waited for while another connection writes. A plain BEGIN would read
    // first and then be refused the write without waiting (SQLite's rule against two readers deadlocking).
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    error = noteError(query.lastError());
    return false;
}

bool RecordDatabase::inTransaction(const std::function<bool()> &work, QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!begin(error))
        return false;
    if (!work()) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        error = noteError(db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

