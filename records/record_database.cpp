#include "record_database.h"

#include "driver_library.h"
#include "odbc_state.h"
#include "record_file.h"
#include "record_tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QUuid>
#include <QVariant>

namespace {

// How long a SQLite file another connection is writing is waited for.
constexpr int kBusyTimeoutMs = 10000;
// How long an ODBC driver gets to make a connection, and to answer on one.
constexpr int kOdbcLoginTimeoutSeconds = 5;
constexpr int kOdbcConnectionTimeoutSeconds = kServerAnswerLimitMs / 1000;

// The connection string's KEY=value pairs; a value in braces may hold a ';'.
QStringList odbcPairs(const QString &text)
{
    QStringList pairs;
    QString pair;
    bool braced = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('{'))
            braced = true;
        else if (c == QLatin1Char('}'))
            braced = false;
        if (c == QLatin1Char(';') && !braced) {
            if (!pair.trimmed().isEmpty())
                pairs << pair;
            pair.clear();
        } else {
            pair += c;
        }
    }
    if (!pair.trimmed().isEmpty())
        pairs << pair;
    return pairs;
}

// libpq's notices (a server's WARNING as it shuts down...) go nowhere: they would reach standard error in
// libpq's own words, without the program's prefix, and the error that follows says what became of the server.
void quietNotices(const QVariant &handle)
{
    using Processor = void (*)(void *, const char *);
    using SetProcessor = Processor (*)(void *, Processor, void *);
    const auto setProcessor = reinterpret_cast<SetProcessor>(libpqFunction("PQsetNoticeProcessor"));
    if (void *connection = libpqConnection(handle); connection && setProcessor)
        setProcessor(connection, [](void *, const char *) {}, nullptr);
}

// Whether Qt's ODBC driver hands the connection string on as it is: it names a driver or a server, or a file DSN.
bool odbcTakenAsItIs(const QString &connectionString)
{
    return connectionString.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive)
           || connectionString.contains(QLatin1String("SERVER="), Qt::CaseInsensitive)
           || connectionString.contains(QLatin1String(".dsn"), Qt::CaseInsensitive);
}

// The connection string as Qt's ODBC driver is to be given it. Qt puts "DSN=" in front of any other string,
// as if it were a data source's name alone: a string that names its data source itself (DSN=line;UID=...)
// goes with that name first and without its key, so that the driver manager gets it once.
QString odbcDatabaseName(const QString &connectionString)
{
    if (odbcTakenAsItIs(connectionString))
        return connectionString;
    QStringList pairs = odbcPairs(connectionString);
    for (int i = 0; i < pairs.size(); ++i) {
        const QString key = pairs.at(i).section(QLatin1Char('='), 0, 0).trimmed();
        if (key.compare(QLatin1String("DSN"), Qt::CaseInsensitive) == 0) {
            const QString name = pairs.takeAt(i).section(QLatin1Char('='), 1);
            pairs.prepend(name);
            return pairs.join(QLatin1Char(';'));
        }
    }
    return connectionString;
}

// The string the driver manager gets from Qt for it.
QString odbcDriverString(const QString &connectionString)
{
    const QString name = odbcDatabaseName(connectionString);
    return odbcTakenAsItIs(name) ? name : QStringLiteral("DSN=") + name;
}

// A connection the server itself turned away (credentials, no such database or role) holds the server's FATAL
// report in libpq's words; one starting up or shutting down only asks to come back.
bool turnedAwayByServer(const QString &text)
{
    return text.contains(QLatin1String("FATAL")) && !text.contains(QLatin1String("the database system is"));
}

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
    // Qt's PostgreSQL driver puts the code after a statement's message, "()" when there is none.
    const QString code = QLatin1Char('(') + error.nativeErrorCode() + QLatin1Char(')');
    if (text.endsWith(code))
        text.chop(code.size());
    if (text.isEmpty())
        text = error.driverText().trimmed();
    // libpq's messages run over several lines: one sentence each.
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString simple = line.simplified();
        if (!simple.isEmpty())
            lines << simple;
    }
    return lines.join(QStringLiteral("; "));
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

QString RecordDatabase::noteError(const QSqlError &error, const QSqlQuery *query)
{
    m_failure = error;
    m_odbcState.clear();
    m_odbcText.clear();
    if (m_address.kind == DatabaseAddress::Kind::Odbc) {
        std::optional<OdbcDiagnostic> said;
        if (query && query->result())
            said = odbcStatementDiagnostic(query->result()->handle());
        if (!said && isOpen())
            said = odbcConnectionDiagnostic(QSqlDatabase::database(m_connection, false).driver()->handle());
        if (said) {
            m_odbcState = said->state;
            m_odbcText = said->text;
        }
    }
    if (m_guard && m_guard->timedOut()) {
        // Cut off for its time: the broken connection's own words would only say it broke.
        m_failure = QSqlError(error.driverText(), QString(), QSqlError::ConnectionError);
        return QStringLiteral("no answer within %1 s").arg(m_answerLimit.count() / 1000.0);
    }
    if (m_guard && m_guard->isCutForGood()) {
        m_failure = QSqlError(error.driverText(), QString(), QSqlError::ConnectionError);
        return QStringLiteral("the program is ending");
    }
    // SQLITE_FULL: the words SQLite has for it leave open which of the two is full. Qt's driver gives no code
    // for a commit that failed, only SQLite's words for it.
    if (m_address.kind == DatabaseAddress::Kind::SQLite
        && (error.nativeErrorCode() == QLatin1String("13")
            || error.databaseText().contains(QLatin1String("database or disk is full"))))
        return QStringLiteral("its disk is full");
    return errorText(error);
}

bool RecordDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connection) && QSqlDatabase::database(m_connection, false).isOpen();
}

DatabaseProblem RecordDatabase::problemOf(const QSqlError &error) const
{
    const QString code = error.nativeErrorCode();
    if (code == QLatin1String(kSwallowedCode))
        return DatabaseProblem::Rejected;
    switch (m_address.kind) {
    case DatabaseAddress::Kind::SQLite:
        // SQLITE_READONLY, and SQLITE_CANTOPEN for a file opened to read only; SQLITE_CONSTRAINT (a check, a
        // trigger's RAISE(ABORT)) turns the record away.
        if (code == QLatin1String("8"))
            return DatabaseProblem::ReadOnly;
        return code == QLatin1String("19") ? DatabaseProblem::Rejected : DatabaseProblem::Refused;
    case DatabaseAddress::Kind::PostgreSQL:
        if (!code.isEmpty())
            return problemOfState(code);
        // A connection libpq could not make carries no code of the server's: turned away by the server itself
        // (credentials, no such database or role), it holds the server's FATAL report; a server starting up
        // or shutting down only asks to come back.
        if (error.type() == QSqlError::ConnectionError)
            return turnedAwayByServer(errorText(error)) ? DatabaseProblem::Refused : DatabaseProblem::Unreachable;
        // A statement without a code: the connection broke under it.
        return DatabaseProblem::Unreachable;
    case DatabaseAddress::Kind::Odbc:
        // The PostgreSQL ODBC driver says 08001 of every connection it could not make, the server's own refusal
        // among them, with libpq's words.
        if (m_odbcState == QLatin1String("08001") && turnedAwayByServer(m_odbcText))
            return DatabaseProblem::Refused;
        if (!m_odbcState.isEmpty())
            return problemOfState(m_odbcState);
        return error.type() == QSqlError::ConnectionError ? DatabaseProblem::Unreachable : DatabaseProblem::Refused;
    }
    return DatabaseProblem::Refused;
}

DatabaseProblem problemOfState(const QString &state)
{
    const auto is = [&state](const char *code) { return state == QLatin1String(code); };
    const auto inClass = [&state](const char *prefix) { return state.startsWith(QLatin1String(prefix)); };
    // Credentials and authorization; no such database or catalog; a data source or driver that is not there.
    if (inClass("28") || is("3D000") || is("IM002") || is("IM003") || is("IM004") || is("IM006"))
        return DatabaseProblem::Refused;
    // No privilege to insert; a read-only transaction (a standby, default_transaction_read_only).
    if (is("42501") || is("25006"))
        return DatabaseProblem::ReadOnly;
    // Connection failures; the server shutting down or starting up; out of resources (too many connections);
    // a time-out.
    if (inClass("08") || is("57P01") || is("57P02") || is("57P03") || inClass("53") || is("HYT00") || is("HYT01"))
        return DatabaseProblem::Unreachable;
    // The record itself: data exceptions, integrity constraints, a trigger's own error (RAISE EXCEPTION).
    if (inClass("22") || inClass("23") || is("P0001") || is("27000"))
        return DatabaseProblem::Rejected;
    return DatabaseProblem::Refused;
}

DatabaseProblem RecordDatabase::open(Use use, QString &error)
{
    m_madeFile = false;
    const DatabaseProblem problem = openConnection(use, error);
    // A records file this open made and could not make a database of (a full disk) leaves nothing behind.
    if (problem != DatabaseProblem::None && m_madeFile) {
        close();
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(m_address.path + QLatin1String(suffix));
    }
    return problem;
}

DatabaseProblem RecordDatabase::openConnection(Use use, QString &error)
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
        if (!prepareDatabaseFile(m_address.path, use == Use::Write,
                                 m_address.path == DatabaseAddress::defaultSqlitePath(), error, &m_madeFile))
            return DatabaseProblem::Refused;
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
        db.setDatabaseName(odbcDatabaseName(m_address.connectionString));
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
                                 .arg(kOdbcLoginTimeoutSeconds)
                                 .arg(kOdbcConnectionTimeoutSeconds));
        break;
    }
    if (!db.open()) {
        error = noteError(db.lastError());
        if (m_address.kind == DatabaseAddress::Kind::Odbc) {
            // Qt has freed the connection's handles: asked again, on a connection of our own, for its code.
            if (const std::optional<OdbcDiagnostic> said =
                    odbcConnectDiagnostic(odbcDriverString(m_address.connectionString), kOdbcLoginTimeoutSeconds)) {
                m_odbcState = said->state;
                m_odbcText = said->text;
                error = said->text;
            }
        }
        return problemOf(m_failure);
    }
    if (m_guard)
        m_guard->attach(db.driver()->handle());
    if (m_address.kind == DatabaseAddress::Kind::PostgreSQL)
        quietNotices(db.driver()->handle());
    // The connection is made (within its connect time-out); what follows is held to the answer limit.
    const GuardedStatement limited(m_guard.get(), m_answerLimit);
    if (m_address.kind == DatabaseAddress::Kind::SQLite) {
        QSqlQuery pragma(db);
        // A file that is no SQLite database (a text file, a CSV file given by mistake) says so here.
        if (!pragma.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            error = noteError(pragma.lastError(), &pragma);
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
    const bool needsOutbox = m_address.kind == DatabaseAddress::Kind::SQLite
                             && (!tables.contains(kOutboxTable) || !tables.contains(kSetAsideTable)
                                 || !tables.contains(kServerTable));
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
            error = noteError(version.lastError(), &version);
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
    error = noteError(query.lastError(), &query);
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

