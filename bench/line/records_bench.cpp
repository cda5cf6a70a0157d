// What keeping the production line's records in a database costs, through the program's own classes:
//   - records per second into the station's SQLite file (RecordKeeper::keep, as --db alone or --db sqlite:
//     does) from 1, 4 and 16 fixtures at once, each a thread of its own keeping one record after the other;
//   - the same into a PostgreSQL server through the station's file: the time until every record has reached
//     the server (nothing waits any more in the file), and a count on the server that each got there once;
//   - what SQLite's sync costs per record: the same inserts through Qt SQL with synchronous=FULL (what the
//     program uses) and OFF;
//   - the server's round trip over its Unix socket: SELECT 1, a one-row insert transaction, and the program's
//     own insert of one record.
// The server is a PostgreSQL of the bench's own (tests/support/postgres_server.h), syncing its commits as a
// real one does unless --fast-server asks for the tests' settings (no fsync). Its folder is made in the
// temporary folder (TMPDIR, else /tmp); the SQLite files go in FOLDER. /tmp may be a RAM file system where a
// sync costs nothing: the file system of both is printed, and FOLDER should be on the real disk.
// Usage: records_bench [FOLDER, default the working folder] [RECORDS a row, default 800] [--fast-server]
#include "postgres_server.h"
#include "record_database.h"
#include "record_keeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Each row stops keeping after this long, however many records it has kept, so a slow disk keeps the run short.
constexpr qint64 kRowMs = 5000;
// How long the records still waiting may go without one of them reaching the server before the row gives up.
constexpr qint64 kStalledMs = 10000;
const int kFixtures[] = {1, 4, 16};

struct Figures {
    int count = 0;
    double medianMs = 0;
    double p95Ms = 0;
};

Figures figuresOf(std::vector<qint64> ns)
{
    Figures f;
    f.count = int(ns.size());
    if (ns.empty())
        return f;
    std::sort(ns.begin(), ns.end());
    f.medianMs = double(ns[ns.size() / 2]) / 1e6;
    f.p95Ms = double(ns[ns.size() * 95 / 100]) / 1e6;
    return f;
}

QString fileSystemOf(const QString &path)
{
    const QString type = QString::fromLatin1(QStorageInfo(path).fileSystemType());
    return type.isEmpty() ? QStringLiteral("file system unknown") : type;
}

// A record as a fixture makes one: a module read completely and left at 38400 baud.
ModuleRecord recordOf(const QString &station, int fixture, int n)
{
    ModuleRecord record = ModuleRecord::make();
    record.time = QDateTime::currentDateTimeUtc();
    record.station = station;
    record.port = QStringLiteral("COM%1").arg(3 + fixture);
    record.lineSettings = QStringLiteral("38400,n,8,1");
    record.serialNumber =
        QStringLiteral("2024%1%2").arg(fixture, 2, 10, QLatin1Char('0')).arg(n, 5, 10, QLatin1Char('0'));
    record.version = QStringLiteral("03.20-01");
    record.customerRegister = QStringLiteral("DEMO CUSTOMER REGISTER %1").arg(n, 7, 10, QLatin1Char('0'));
    record.outcome = QStringLiteral("ok");
    record.durationMs = 1630;
    return record;
}

// What the keeper said during a row (the server away, a file that could not be updated...), counted.
struct Said {
    std::mutex mutex;
    std::map<QString, int> lines;
    void operator()(const QString &line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++lines[line];
    }
};

struct Kept {
    int records = 0;
    int failed = 0;
    QString firstError;
    QElapsedTimer clock; // started when the fixtures were
    qint64 keptNs = 0;   // from the start until the last fixture's last record was kept
    std::vector<qint64> keepNs; // each keep()
};

// N fixtures, each a thread calling keep() until its share of the records is kept or the row's time is up.
// All start together.
Kept keepFrom(RecordKeeper &keeper, int fixtures, int records, const QString &station)
{
    std::mutex mutex;
    std::condition_variable started;
    bool go = false;
    std::vector<std::vector<qint64>> times(static_cast<size_t>(fixtures));
    std::vector<int> failed(static_cast<size_t>(fixtures), 0);
    std::vector<QString> errors(static_cast<size_t>(fixtures));
    QElapsedTimer clock;
    std::vector<std::thread> threads;
    const int each = (records + fixtures - 1) / fixtures;
    for (int f = 0; f < fixtures; ++f) {
        threads.emplace_back([&, f] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                started.wait(lock, [&] { return go; });
            }
            QElapsedTimer timer;
            for (int n = 0; n < each && clock.elapsed() < kRowMs; ++n) {
                const ModuleRecord record = recordOf(station, f, n);
                QString error;
                timer.start();
                const bool kept = keeper.keep(record, error);
                times[size_t(f)].push_back(timer.nsecsElapsed());
                if (!kept && failed[size_t(f)]++ == 0)
                    errors[size_t(f)] = error;
            }
        });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        go = true;
        clock.start();
    }
    started.notify_all();
    for (std::thread &thread : threads)
        thread.join();
    Kept kept;
    kept.clock = clock;
    kept.keptNs = clock.nsecsElapsed();
    for (int f = 0; f < fixtures; ++f) {
        kept.keepNs.insert(kept.keepNs.end(), times[size_t(f)].begin(), times[size_t(f)].end());
        kept.failed += failed[size_t(f)];
        if (kept.firstError.isEmpty())
            kept.firstError = errors[size_t(f)];
    }
    kept.records = int(kept.keepNs.size()) - kept.failed;
    return kept;
}

// Points the station's own file (DatabaseAddress::defaultSqlitePath) into a folder of the row's own.
void stationFileIn(const QString &folder)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder));
}

void printSaid(Said &said)
{
    for (const auto &line : said.lines)
        std::printf("    the keeper said (%dx): %s\n", line.second, qPrintable(line.first));
}

void sqliteRows(const QString &root, int records)
{
    std::printf("\ninto the station's SQLite file: RecordKeeper::keep, one commit a record (synchronous=FULL)\n");
    std::printf("%9s %8s %8s %10s %15s %12s\n", "fixtures", "records", "seconds", "records/s", "keep median ms",
                "keep p95 ms");
    for (const int fixtures : kFixtures) {
        const QString folder = root + QStringLiteral("/sqlite-%1").arg(fixtures);
        stationFileIn(folder);
        Said said;
        RecordKeeper keeper([&said](const QString &line) { said(line); });
        QString error;
        DatabaseAddress address = *DatabaseAddress::parse(QString(), error);
        if (keeper.open(address, error) != DatabaseProblem::None) {
            std::printf("%9d  the station's file could not be opened: %s\n", fixtures, qPrintable(error));
            continue;
        }
        const Kept kept = keepFrom(keeper, fixtures, records, QStringLiteral("bench-sqlite-%1").arg(fixtures));
        keeper.finish();
        const Figures f = figuresOf(kept.keepNs);
        const double seconds = double(kept.keptNs) / 1e9;
        std::printf("%9d %8d %8.2f %10.0f %15.2f %12.2f\n", fixtures, kept.records, seconds, kept.records / seconds,
                    f.medianMs, f.p95Ms);
        if (kept.failed > 0)
            std::printf("    %d records not kept: %s\n", kept.failed, qPrintable(kept.firstError));
        printSaid(said);
        std::fflush(stdout);
    }
}

struct OnServer {
    qint64 records = -1;
    qint64 transactions = -1;
};

// The records of a station on the server, and in how many transactions they came (the sender's batches: the
// rows of one transaction share its xmin).
OnServer onServer(PostgresServer &server, const QString &station)
{
    QString output;
    QString error;
    OnServer there;
    if (server.sql(QStringLiteral("SELECT count(*), count(DISTINCT xmin::text) FROM module_record WHERE station = '%1'")
                       .arg(station),
                   &error, &output)) {
        const QStringList fields = output.trimmed().split(QLatin1Char('|'));
        there.records = fields.value(0).toLongLong();
        there.transactions = fields.value(1).toLongLong();
    }
    return there;
}

void serverRows(PostgresServer &server, const QString &root, int records)
{
    std::printf("\ninto PostgreSQL through the station's file: kept in the file, then sent by the keeper's thread\n");
    std::printf("%9s %8s %8s %8s %12s %10s %15s %12s %10s %8s\n", "fixtures", "records", "kept s", "kept/s",
                "on server s", "records/s", "keep median ms", "keep p95 ms", "on server", "batches");
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(server.url(), error);
    if (!address) {
        std::printf("    the server's address is not understood: %s\n", qPrintable(error));
        return;
    }
    for (const int fixtures : kFixtures) {
        const QString folder = root + QStringLiteral("/server-%1").arg(fixtures);
        const QString station = QStringLiteral("bench-server-%1").arg(fixtures);
        stationFileIn(folder);
        Said said;
        RecordKeeper keeper([&said](const QString &line) { said(line); });
        if (keeper.open(*address, error) != DatabaseProblem::None) {
            std::printf("%9d  the database could not be opened: %s\n", fixtures, qPrintable(error));
            continue;
        }
        const Kept kept = keepFrom(keeper, fixtures, records, station);
        // Every record is on the server once none waits in the station's file: each is noted as sent only
        // after the server's commit.
        qint64 waiting = keeper.waiting();
        QElapsedTimer stalled;
        stalled.start();
        while (waiting != 0 && stalled.elapsed() < kStalledMs) {
            QThread::usleep(500);
            const qint64 now = keeper.waiting();
            if (now != waiting)
                stalled.start();
            waiting = now;
        }
        const double allThere = double(kept.clock.nsecsElapsed()) / 1e9;
        const qint64 left = keeper.finish();
        const OnServer there = onServer(server, station);
        const Figures f = figuresOf(kept.keepNs);
        const double keptSeconds = double(kept.keptNs) / 1e9;
        std::printf("%9d %8d %8.2f %8.0f %12.2f %10.0f %15.2f %12.2f %10lld %8lld\n", fixtures, kept.records,
                    keptSeconds, kept.records / keptSeconds, allThere, waiting == 0 ? kept.records / allThere : 0.0,
                    f.medianMs, f.p95Ms, there.records, there.transactions);
        if (waiting != 0)
            std::printf("    %lld records still waited, none sent for %lld s (%lld after the keeper's last pass)\n",
                        waiting, kStalledMs / 1000, left);
        if (there.records != kept.records)
            std::printf("    the server holds %lld of the %d records kept\n", there.records, kept.records);
        if (kept.failed > 0)
            std::printf("    %d records not kept: %s\n", kept.failed, qPrintable(kept.firstError));
        printSaid(said);
        std::fflush(stdout);
    }
}

// The SQL of RecordDatabase's own insert into the station's file.
const QString kInsert = QStringLiteral(
    "INSERT INTO module_record (id, time, station, port, line_settings, serial_number, version, customer_register, "
    "outcome, duration_ms, tool_version) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING");

void bind(QSqlQuery &query, const ModuleRecord &record)
{
    query.addBindValue(record.id);
    query.addBindValue(ModuleRecord::timeText(record.time));
    query.addBindValue(record.station);
    query.addBindValue(record.port);
    query.addBindValue(record.lineSettings);
    query.addBindValue(record.serialNumber);
    query.addBindValue(*record.version);
    query.addBindValue(*record.customerRegister);
    query.addBindValue(record.outcome);
    query.addBindValue(record.durationMs);
    query.addBindValue(record.toolVersion);
}

// The records' table made as the program makes it; false with the reason.
bool makeTable(const DatabaseAddress &address, QString &error)
{
    RecordDatabase db(address);
    return db.open(RecordDatabase::Use::Write, error) == DatabaseProblem::None;
}

// One-record transactions into a SQLite file of the program's schema, with the sync given; the time of each.
std::optional<std::vector<qint64>> sqliteInserts(const QString &file, const QString &synchronous, int records,
                                                 QString &journal, QString &error)
{
    DatabaseAddress address;
    address.path = file;
    if (!makeTable(address, error))
        return std::nullopt;
    std::optional<std::vector<qint64>> times;
    const QString name = QStringLiteral("sync-") + synchronous;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery pragma(db);
            pragma.exec(QStringLiteral("PRAGMA synchronous = ") + synchronous);
            if (pragma.exec(QStringLiteral("PRAGMA journal_mode")) && pragma.next())
                journal = pragma.value(0).toString();
            // A statement still open keeps its read lock, and no transaction could be committed.
            pragma.finish();
            times.emplace();
            QElapsedTimer clock;
            clock.start();
            QElapsedTimer timer;
            for (int n = 0; n < records && clock.elapsed() < kRowMs; ++n) {
                const ModuleRecord record = recordOf(QStringLiteral("bench-sync"), 0, n);
                timer.start();
                db.transaction();
                QSqlQuery query(db);
                query.prepare(kInsert);
                bind(query, record);
                if (!query.exec() || !db.commit()) {
                    error = query.lastError().isValid() ? query.lastError().text() : db.lastError().text();
                    times.reset();
                    break;
                }
                times->push_back(timer.nsecsElapsed());
            }
        } else {
            error = db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return times;
}

void syncRows(const QString &root, int records)
{
    std::printf("\nSQLite's sync: the same one-record inserts through Qt SQL, one transaction each\n");
    std::printf("%12s %8s %10s %8s\n", "synchronous", "records", "median ms", "p95 ms");
    double medians[2] = {0, 0};
    QString journal;
    int i = 0;
    for (const QString &mode : {QStringLiteral("FULL"), QStringLiteral("OFF")}) {
        QString error;
        const auto times =
            sqliteInserts(root + QStringLiteral("/sync-%1.sqlite").arg(mode.toLower()), mode, records, journal, error);
        if (!times) {
            std::printf("%12s  %s\n", qPrintable(mode), qPrintable(error));
            return;
        }
        const Figures f = figuresOf(*times);
        medians[i++] = f.medianMs;
        std::printf("%12s %8d %10.3f %8.3f\n", qPrintable(mode), f.count, f.medianMs, f.p95Ms);
    }
    std::printf("    the sync costs %.2f ms a record (median; journal_mode %s)\n", medians[0] - medians[1],
                qPrintable(journal));
}

void roundTripRows(PostgresServer &server, int records)
{
    std::printf("\nthe server's round trip over its Unix socket, one connection\n");
    std::printf("%-44s %8s %10s %8s\n", "", "count", "median ms", "p95 ms");
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(server.url(), error);
    if (!address || !makeTable(*address, error)) {
        std::printf("    the server's table could not be made: %s\n", qPrintable(error));
        return;
    }
    const QString name = QStringLiteral("round-trip");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(server.socketFolder());
        db.setDatabaseName(PostgresServer::databaseName());
        db.setUserName(PostgresServer::superuser());
        db.setPassword(PostgresServer::superuserPassword());
        if (!db.open()) {
            std::printf("    no connection: %s\n", qPrintable(db.lastError().text()));
            return;
        }
        const auto row = [&](const char *what, const std::function<bool(int)> &once) {
            std::vector<qint64> times;
            QElapsedTimer clock;
            clock.start();
            QElapsedTimer timer;
            for (int n = 0; n < records && clock.elapsed() < kRowMs; ++n) {
                timer.start();
                if (!once(n)) {
                    std::printf("%-44s failed: %s\n", what, qPrintable(db.lastError().text()));
                    return;
                }
                times.push_back(timer.nsecsElapsed());
            }
            const Figures f = figuresOf(times);
            std::printf("%-44s %8d %10.3f %8.3f\n", what, f.count, f.medianMs, f.p95Ms);
            std::fflush(stdout);
        };
        QSqlQuery select(db);
        row("SELECT 1", [&](int) { return select.exec(QStringLiteral("SELECT 1")) && select.next(); });
        QSqlQuery insert(db);
        insert.prepare(kInsert);
        row("insert transaction (BEGIN, INSERT, COMMIT)", [&](int n) {
            const ModuleRecord record = recordOf(QStringLiteral("bench-round-trip"), 0, n);
            bind(insert, record);
            return db.transaction() && insert.exec() && db.commit();
        });
    }
    QSqlDatabase::removeDatabase(name);

    // The program's own: RecordDatabase::insert of one record (its statement prepared for the record).
    RecordDatabase program(*address);
    if (program.open(RecordDatabase::Use::Write, error) != DatabaseProblem::None) {
        std::printf("    RecordDatabase could not open the server: %s\n", qPrintable(error));
        return;
    }
    std::vector<qint64> times;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer timer;
    for (int n = 0; n < records && clock.elapsed() < kRowMs; ++n) {
        const ModuleRecord record = recordOf(QStringLiteral("bench-program"), 0, n);
        timer.start();
        if (!program.insert({record}, error)) {
            std::printf("    RecordDatabase::insert failed: %s\n", qPrintable(error));
            return;
        }
        times.push_back(timer.nsecsElapsed());
    }
    const Figures f = figuresOf(times);
    std::printf("%-44s %8d %10.3f %8.3f\n", "RecordDatabase::insert of one record", f.count, f.medianMs, f.p95Ms);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList positional;
    bool fastServer = false;
    for (const QString &argument : app.arguments().mid(1)) {
        if (argument == QLatin1String("--fast-server")) {
            fastServer = true;
        } else if (argument.startsWith(QLatin1String("-"))) {
            std::fprintf(stderr, "usage: records_bench [FOLDER] [RECORDS] [--fast-server]\n");
            return 2;
        } else {
            positional << argument;
        }
    }
    const QString folder = positional.value(0, QDir::currentPath());
    const int records = positional.size() > 1 ? std::max(16, positional.at(1).toInt()) : 800;
    QTemporaryDir dir(folder + QStringLiteral("/records-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "records_bench: no folder can be made in %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("records_bench: %d records a row (each row stops after %lld s), in %s (%s); %d cores\n", records,
                kRowMs / 1000, qPrintable(QFileInfo(folder).absoluteFilePath()), qPrintable(fileSystemOf(folder)),
                QThread::idealThreadCount());
    std::fflush(stdout);

    sqliteRows(dir.path(), records);
    syncRows(dir.path(), records);

    const QString reason = PostgresServer::unavailableReason();
    if (!reason.isEmpty()) {
        std::printf("\nno PostgreSQL server here: %s\n", qPrintable(reason));
        return 0;
    }
    PostgresServer server;
    server.setDurable(!fastServer);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "records_bench: the server did not start: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("\nPostgreSQL %s, %s; its folder %s (%s)\n",
                qPrintable(QFileInfo(QFileInfo(PostgresServer::binFolder()).path()).fileName()),
                server.isDurable() ? "durable: fsync and synchronous_commit on, as a real server"
                                   : "the tests' settings: fsync and synchronous_commit off (--fast-server)",
                qPrintable(server.socketFolder()), qPrintable(fileSystemOf(server.socketFolder())));
    std::fflush(stdout);
    serverRows(server, dir.path(), records);
    roundTripRows(server, records);
    return 0;
}
