#include "record_database.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>
#include <QVariant>

namespace {

const QString kTable = QStringLiteral("module_record");
const QString kSchemaTable = QStringLiteral("modulebench_schema");
const QString kOutboxTable = QStringLiteral("record_outbox");
const QString kColumns = QStringLiteral("id, time, station, port, line_settings, serial_number, version, "
                                        "customer_register, outcome, duration_ms, tool_version");
// The record a write is tried with when a database is opened for writing; never committed.
const QString kTrialId = QStringLiteral("00000000-0000-0000-0000-000000000000");
// How long a SQLite file another connection is writing is waited for.
constexpr int kBusyTimeoutMs = 10000;
// How long a server gets to answer a connection, unless the address says otherwise.
constexpr int kConnectTimeoutSeconds = 5;

// The query items of a PostgreSQL URL that are passed to libpq as they are.
const QStringList kPassedOptions{QStringLiteral("connect_timeout"), QStringLiteral("sslmode"),
                                 QStringLiteral("sslrootcert"),     QStringLiteral("sslcert"),
                                 QStringLiteral("sslkey"),          QStringLiteral("application_name"),
                                 QStringLiteral("target_session_attrs")};

QString driverOf(DatabaseAddress::Kind kind)
{
    switch (kind) {
    case DatabaseAddress::Kind::SQLite: return QStringLiteral("QSQLITE");
    case DatabaseAddress::Kind::PostgreSQL: return QStringLiteral("QPSQL");
    case DatabaseAddress::Kind::Odbc: return QStringLiteral("QODBC");
    }
    return {};
}

// A value in libpq's key='value' form.
QString conninfoValue(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// postgresql://[user[:password]@][host][:port][/database][?key=value&...], as libpq reads it.
std::optional<DatabaseAddress> parsePostgresUrl(const QString &url, QString &error)
{
    DatabaseAddress address;
    address.kind = DatabaseAddress::Kind::PostgreSQL;
    QString rest = url.section(QStringLiteral("://"), 1);
    QString query;
    if (const int mark = rest.indexOf(QLatin1Char('?')); mark >= 0) {
        query = rest.mid(mark + 1);
        rest.truncate(mark);
    }
    QString authority = rest;
    if (const int slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = rest.left(slash);
        address.database = decoded(rest.mid(slash + 1));
    }
    if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        address.user = decoded(userInfo.section(QLatin1Char(':'), 0, 0));
        if (userInfo.contains(QLatin1Char(':')))
            address.password = decoded(userInfo.section(QLatin1Char(':'), 1));
    }
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const int end = authority.indexOf(QLatin1Char(']'));
        if (end < 0) {
            error = QStringLiteral("the host's address has no closing ]");
            return std::nullopt;
        }
        address.host = authority.mid(1, end - 1);
        portText = authority.mid(end + 1).section(QLatin1Char(':'), 1);
    } else {
        address.host = decoded(authority.section(QLatin1Char(':'), 0, 0));
        portText = authority.section(QLatin1Char(':'), 1);
    }
    QStringList options;
    for (const QString &item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const QString key = decoded(item.section(QLatin1Char('='), 0, 0));
        const QString value = decoded(item.section(QLatin1Char('='), 1));
        if (key == QLatin1String("host")) {
            address.host = value;
        } else if (key == QLatin1String("port")) {
            portText = value;
        } else if (key == QLatin1String("dbname")) {
            address.database = value;
        } else if (key == QLatin1String("user")) {
            address.user = value;
        } else if (key == QLatin1String("password")) {
            address.password = value;
        } else if (kPassedOptions.contains(key)) {
            options << key + QLatin1Char('=') + conninfoValue(value);
        } else {
            error = QStringLiteral("\"%1\" is no connection setting the tool passes on (%2)")
                        .arg(key, kPassedOptions.join(QStringLiteral(", ")));
            return std::nullopt;
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        address.port = portText.toInt(&ok);
        if (!ok || address.port < 1 || address.port > 65535) {
            error = QStringLiteral("\"%1\" is no port number").arg(portText);
            return std::nullopt;
        }
    }
    if (address.database.isEmpty()) {
        error = QStringLiteral("the address names no database (postgresql://user@host/DATABASE)");
        return std::nullopt;
    }
    if (!query.contains(QLatin1String("connect_timeout=")))
        options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds);
    address.connectOptions = options.join(QLatin1Char(';'));
    return address;
}

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

// A row of the columns in kColumns' order.
ModuleRecord recordOf(const QSqlQuery &query)
{
    ModuleRecord record;
    record.id = query.value(0).toString();
    record.time = timeOf(query.value(1));
    record.station = query.value(2).toString();
    record.port = query.value(3).toString();
    record.lineSettings = query.value(4).toString();
    record.serialNumber = query.value(5).toString();
    if (!query.value(6).isNull())
        record.version = query.value(6).toString();
    if (!query.value(7).isNull())
        record.customerRegister = query.value(7).toString();
    record.outcome = query.value(8).toString();
    record.durationMs = query.value(9).toLongLong();
    record.toolVersion = query.value(10).toString();
    return record;
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

ModuleRecord ModuleRecord::make()
{
    ModuleRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.toolVersion = QStringLiteral(MB_VERSION);
    return record;
}

QString ModuleRecord::timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

QString DatabaseAddress::shown() const
{
    switch (kind) {
    case Kind::SQLite:
        return QStringLiteral("sqlite:") + path;
    case Kind::PostgreSQL: {
        QString text = QStringLiteral("postgresql://");
        if (!user.isEmpty())
            text += user + QLatin1Char('@');
        const bool socket = host.startsWith(QLatin1Char('/'));
        if (!socket)
            text += host;
        if (port > 0)
            text += QLatin1Char(':') + QString::number(port);
        text += QLatin1Char('/') + database;
        if (socket)
            text += QStringLiteral("?host=") + host;
        return text;
    }
    case Kind::Odbc: {
        QString text = connectionString;
        static const QRegularExpression secret(QStringLiteral("((?:PWD|PASSWORD)\\s*=)[^;]*"),
                                               QRegularExpression::CaseInsensitiveOption);
        text.replace(secret, QStringLiteral("\\1***"));
        return QStringLiteral("odbc:") + text;
    }
    }
    return {};
}

std::optional<DatabaseAddress> DatabaseAddress::parse(const QString &url, QString &error)
{
    DatabaseAddress address;
    if (url.isEmpty()) {
        address.path = defaultSqlitePath();
        return address;
    }
    if (url.startsWith(QLatin1String("sqlite:"))) {
        address.path = url.mid(7);
        if (address.path.isEmpty()) {
            error = QStringLiteral("sqlite: needs a file name (sqlite:records.sqlite)");
            return std::nullopt;
        }
        return address;
    }
    if (url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://")))
        return parsePostgresUrl(url, error);
    if (url.startsWith(QLatin1String("odbc:"))) {
        address.kind = Kind::Odbc;
        address.connectionString = url.mid(5);
        if (address.connectionString.isEmpty()) {
            error = QStringLiteral("odbc: needs a connection string (odbc:DSN=line;UID=station;PWD=...)");
            return std::nullopt;
        }
        return address;
    }
    error = QStringLiteral("not a database address: sqlite:FILE, postgresql://user@host/database or odbc:CONNECTION");
    return std::nullopt;
}

QString DatabaseAddress::defaultSqlitePath()
{
    // $XDG_DATA_HOME (~/.local/share) on Linux, %LOCALAPPDATA% on Windows.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/KAVOR/ModuleBench/records.sqlite");
}

RecordDatabase::RecordDatabase(const DatabaseAddress &address)
    : m_address(address), m_connection(QStringLiteral("records-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
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
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QString RecordDatabase::noteError(const QSqlError &error)
{
    m_failure = error;
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
    m_hasTable = tables.contains(kTable);
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
            error = QStringLiteral("it has a table %1 of another program's (no %2 beside it)").arg(kTable, kSchemaTable);
            return DatabaseProblem::Refused;
        }
        if (!makeTables(error)) {
            // Another station may have made them at the same moment.
            if (!db.tables().contains(kTable) || !db.tables().contains(kSchemaTable))
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

bool RecordDatabase::makeTables(QString &error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QStringList statements;
    switch (m_address.kind) {
    case DatabaseAddress::Kind::SQLite:
        statements << QStringLiteral(
            "CREATE TABLE IF NOT EXISTS module_record (id TEXT NOT NULL PRIMARY KEY, time TEXT NOT NULL, "
            "station TEXT NOT NULL, port TEXT NOT NULL, line_settings TEXT NOT NULL, serial_number TEXT NOT NULL, "
            "version TEXT, customer_register TEXT, outcome TEXT NOT NULL, duration_ms INTEGER NOT NULL, "
            "tool_version TEXT NOT NULL)")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS record_outbox (id TEXT NOT NULL, server TEXT NOT NULL, "
                                     "PRIMARY KEY (id, server))");
        break;
    case DatabaseAddress::Kind::PostgreSQL:
        statements << QStringLiteral(
            "CREATE TABLE IF NOT EXISTS module_record (id uuid NOT NULL PRIMARY KEY, time timestamptz NOT NULL, "
            "station text NOT NULL, port text NOT NULL, line_settings text NOT NULL, serial_number text NOT NULL, "
            "version text, customer_register text, outcome text NOT NULL, duration_ms bigint NOT NULL, "
            "tool_version text NOT NULL)");
        break;
    case DatabaseAddress::Kind::Odbc:
        // Plain SQL that most servers take: no IF NOT EXISTS, sized text for the index.
        if (!m_hasTable)
            statements << QStringLiteral(
                "CREATE TABLE module_record (id CHAR(36) NOT NULL PRIMARY KEY, time VARCHAR(32) NOT NULL, "
                "station VARCHAR(255) NOT NULL, port VARCHAR(16) NOT NULL, line_settings VARCHAR(16) NOT NULL, "
                "serial_number VARCHAR(64) NOT NULL, version VARCHAR(64), customer_register VARCHAR(255), "
                "outcome VARCHAR(32) NOT NULL, duration_ms BIGINT NOT NULL, tool_version VARCHAR(32) NOT NULL)");
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
                error = noteError(query.lastError());
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
            error = noteError(there.lastError());
            return false;
        }
        if (there.value(0).toLongLong() > 0)
            return true;
    }
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO module_record (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)%2")
                      .arg(kColumns, plain ? QString() : QStringLiteral(" ON CONFLICT (id) DO NOTHING")));
    // A text that is always there is empty, never NULL, when there is nothing in it.
    const auto text = [](const QString &value) { return value.isNull() ? QStringLiteral("") : value; };
    query.addBindValue(record.id);
    query.addBindValue(ModuleRecord::timeText(record.time));
    query.addBindValue(text(record.station));
    query.addBindValue(text(record.port));
    query.addBindValue(text(record.lineSettings));
    query.addBindValue(text(record.serialNumber));
    query.addBindValue(optionalText(record.version));
    query.addBindValue(optionalText(record.customerRegister));
    query.addBindValue(text(record.outcome));
    query.addBindValue(record.durationMs);
    query.addBindValue(text(record.toolVersion));
    if (!query.exec()) {
        error = noteError(query.lastError());
        return false;
    }
    return true;
}

bool RecordDatabase::insert(const QList<ModuleRecord> &records, QString &error)
{
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
    QList<ModuleRecord> records;
    if (!m_hasTable)
        return records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM module_record WHERE serial_number = ? ORDER BY time").arg(kColumns));
    query.addBindValue(serialNumber);
    if (!query.exec()) {
        error = noteError(query.lastError());
        return std::nullopt;
    }
    while (query.next())
        records << recordOf(query);
    return records;
}

std::optional<QList<RecordCount>> RecordDatabase::summary(const QDateTime &since, QString &error)
{
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
        error = noteError(query.lastError());
        return std::nullopt;
    }
    while (query.next())
        counts << RecordCount{query.value(0).toString(), query.value(1).toString(), query.value(2).toLongLong()};
    return counts;
}

std::optional<bool> RecordDatabase::succeededBefore(const QString &serialNumber, QString &error)
{
    if (!m_hasTable)
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM module_record WHERE serial_number = ? "
                                 "AND outcome IN ('ok', 'already-set')"));
    query.addBindValue(serialNumber);
    if (!query.exec() || !query.next()) {
        error = noteError(query.lastError());
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
            error = noteError(waiting.lastError());
            return false;
        }
        return true;
    }, error);
}

std::optional<QList<ModuleRecord>> RecordDatabase::waitingFor(const QString &server, int limit, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    QString columns = kColumns;
    columns.replace(QStringLiteral(", "), QStringLiteral(", r."));
    query.prepare(QStringLiteral("SELECT r.%1 FROM record_outbox o JOIN module_record r ON r.id = o.id "
                                 "WHERE o.server = ? ORDER BY o.rowid LIMIT ?")
                      .arg(columns));
    query.addBindValue(server);
    query.addBindValue(limit);
    if (!query.exec()) {
        error = noteError(query.lastError());
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
            QSqlQuery query(QSqlDatabase::database(m_connection, false));
            query.prepare(QStringLiteral("DELETE FROM record_outbox WHERE id = ? AND server = ?"));
            query.addBindValue(record.id);
            query.addBindValue(server);
            if (!query.exec()) {
                error = noteError(query.lastError());
                return false;
            }
        }
        return true;
    }, error);
}

std::optional<qint64> RecordDatabase::waitingCount(const QString &server, QString &error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM record_outbox WHERE server = ?"));
    query.addBindValue(server);
    if (!query.exec() || !query.next()) {
        error = noteError(query.lastError());
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}
