#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>

#include <cstdio>

// A small Windows program on Qt SQL, what the records' database asks of the cross-built Qt and of the
// package: the drivers found and loaded, a SQLite file written with bound parameters in one run and read in
// the next. Run by tst_wine_records (from the build) and run-package-sql (from a copy of the package).
//   sql_check drivers                     lists the drivers and loads each; fails unless QSQLITE and QODBC load
//   sql_check write FILE SERIAL STATION   adds one row for SERIAL to the SQLite database FILE (made if need be)
//   sql_check read FILE SERIAL            prints SERIAL's rows as JSON, one line each, oldest first
// Exit status 0 on success, 1 on a failure (said on standard error), 2 for a wrong command line.
namespace {

const char kConnection[] = "sql_check";

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int fail(const QString &what)
{
    print(stderr, QStringLiteral("sql_check: ") + what);
    return 1;
}

int listDrivers()
{
    const QStringList drivers = QSqlDatabase::drivers();
    print(stdout, QStringLiteral("drivers: ") + drivers.join(QLatin1Char(' ')));
    print(stdout, QStringLiteral("plugin folders: ")
                      + QCoreApplication::libraryPaths().join(QLatin1String(" ")));
    int failures = 0;
    for (const char *needed : {"QSQLITE", "QODBC"}) {
        const QString name = QLatin1String(needed);
        if (!drivers.contains(name)) {
            failures += fail(name + QStringLiteral(" is not among the drivers"));
            continue;
        }
        // Listed from the plugin's metadata; a valid connection means the DLL itself was loaded, with
        // everything it imports.
        {
            const QSqlDatabase db = QSqlDatabase::addDatabase(name, QLatin1String(kConnection));
            if (db.isValid())
                print(stdout, name + QStringLiteral(" loaded"));
            else
                failures += fail(name + QStringLiteral(" could not be loaded: ") + db.lastError().text());
        }
        QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    }
    return failures == 0 ? 0 : 1;
}

// The table is the test's own, shaped like a record: text, a time, a number.
const char kCreate[] = "CREATE TABLE IF NOT EXISTS check_record (id TEXT PRIMARY KEY, time TEXT NOT NULL, "
                       "station TEXT NOT NULL, serial_number TEXT NOT NULL, duration_ms INTEGER NOT NULL)";

int writeRow(QSqlDatabase &db, const QString &serial, const QString &station)
{
    QSqlQuery create(db);
    if (!create.exec(QLatin1String(kCreate)))
        return fail(QStringLiteral("CREATE TABLE: ") + create.lastError().text());
    if (!db.transaction())
        return fail(QStringLiteral("BEGIN: ") + db.lastError().text());
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO check_record (id, time, station, serial_number, duration_ms) "
                                  "VALUES (:id, :time, :station, :serial, :duration)"));
    insert.bindValue(QStringLiteral(":id"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    insert.bindValue(QStringLiteral(":time"),
                     QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    insert.bindValue(QStringLiteral(":station"), station);
    insert.bindValue(QStringLiteral(":serial"), serial);
    insert.bindValue(QStringLiteral(":duration"), qint64(1234));
    if (!insert.exec())
        return fail(QStringLiteral("INSERT: ") + insert.lastError().text());
    if (!db.commit())
        return fail(QStringLiteral("COMMIT: ") + db.lastError().text());
    return 0;
}

int readRows(QSqlDatabase &db, const QString &serial)
{
    QSqlQuery select(db);
    select.prepare(QStringLiteral("SELECT id, time, station, serial_number, duration_ms FROM check_record "
                                  "WHERE serial_number = ? ORDER BY time, rowid"));
    select.addBindValue(serial);
    if (!select.exec())
        return fail(QStringLiteral("SELECT: ") + select.lastError().text());
    while (select.next()) {
        const QJsonObject row{{QStringLiteral("id"), select.value(0).toString()},
                              {QStringLiteral("time"), select.value(1).toString()},
                              {QStringLiteral("station"), select.value(2).toString()},
                              {QStringLiteral("serial_number"), select.value(3).toString()},
                              {QStringLiteral("duration_ms"), select.value(4).toLongLong()}};
        print(stdout, QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact)));
    }
    return 0;
}

int onFile(const QString &command, const QStringList &arguments)
{
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
        db.setDatabaseName(arguments.at(0));
        if (!db.open())
            status = fail(QStringLiteral("cannot open %1: %2").arg(arguments.at(0), db.lastError().text()));
        else if (command == QLatin1String("write"))
            status = writeRow(db, arguments.at(1), arguments.at(2));
        else
            status = readRows(db, arguments.at(1));
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("drivers") && arguments.isEmpty())
        return listDrivers();
    if ((command == QLatin1String("write") && arguments.size() == 3)
        || (command == QLatin1String("read") && arguments.size() == 2))
        return onFile(command, arguments);
    print(stderr, QStringLiteral("usage: sql_check drivers | write FILE SERIAL STATION | read FILE SERIAL"));
    return 2;
}
