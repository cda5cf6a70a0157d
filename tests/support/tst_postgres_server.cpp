// The tests' own PostgreSQL server: Qt's PostgreSQL driver reaches it through the URL it gives, its data
// outlives a restart, it takes only the right password, it opens no TCP port, and it goes with the test,
// even one killed outright.
#include "postgres_server.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

// A connection through Qt's PostgreSQL driver, set up from a URL of the server's form
// (postgresql://user:password@/database?host=FOLDER); removed with the object.
class Connection {
public:
    explicit Connection(const QString &url)
        : m_name(QStringLiteral("connection-%1").arg(++s_count))
    {
        const QUrl parsed(url, QUrl::StrictMode);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        db.setUserName(parsed.userName());
        db.setPassword(parsed.password());
        db.setDatabaseName(parsed.path().mid(1));
        db.setHostName(QUrlQuery(parsed).queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded));
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        m_open = db.open();
        m_error = db.lastError().text();
    }
    ~Connection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }
    // Runs a statement; false with *error when it failed.
    bool exec(const QString &statement, QString *error = nullptr) const
    {
        QSqlQuery query(database());
        if (query.exec(statement))
            return true;
        if (error)
            *error = query.lastError().text();
        return false;
    }
    QVariant value(const QString &statement) const
    {
        QSqlQuery query(database());
        return query.exec(statement) && query.next() ? query.value(0) : QVariant();
    }

private:
    static inline int s_count = 0;
    QString m_name;
    bool m_open = false;
    QString m_error;
};

// The socket inodes a process holds open.
QSet<QString> socketsOf(qint64 pid)
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        // "socket:[N]": readlink's own text (QFile::symLinkTarget would make a path of it).
        char link[128] = {};
        const ssize_t size = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link - 1);
        const QByteArray text(link, size > 0 ? int(size) : 0);
        if (text.startsWith("socket:[") && text.endsWith(']'))
            inodes.insert(QString::fromLatin1(text.mid(8, text.size() - 9)));
    }
    return inodes;
}

// The TCP sockets (IPv4 and IPv6, any state) among `inodes`.
QStringList tcpSocketsAmong(const QSet<QString> &inodes)
{
    QStringList found;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the heading
        while (!file.atEnd()) {
            const QStringList fields = QString::fromLatin1(file.readLine()).simplified().split(QLatin1Char(' '));
            // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
            if (fields.size() > 9 && inodes.contains(fields.at(9)))
                found << QString::fromLatin1(table) + QLatin1Char(' ') + fields.at(1);
        }
    }
    return found;
}

// The child of the killed-test case: starts a server, says where (postmaster's id and the folder) and
// waits to be killed.
int holdAServer(const QString &reportFile)
{
    PostgresServer server;
    QString error;
    if (!server.start(&error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QFile report(reportFile + QStringLiteral(".part"));
    if (!report.open(QIODevice::WriteOnly)
        || report.write(QStringLiteral("%1 %2\n").arg(server.serverPid()).arg(server.socketFolder()).toLocal8Bit())
            <= 0)
        return 1;
    report.close();
    QFile::rename(report.fileName(), reportFile);
    ::pause();
    return 0;
}

} // namespace

class TestPostgresServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString reason = PostgresServer::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        m_server = std::make_unique<PostgresServer>();
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        qInfo("initdb and start: %lld ms", timer.elapsed());
        QVERIFY(m_server->isRunning());
        QVERIFY(m_server->serverPid() > 0);
        QVERIFY(QFileInfo::exists(m_server->socketFolder() + QStringLiteral("/.s.PGSQL.5432")));
    }

    void theUrlNamesTheSocketFolder()
    {
        const QString url =
            m_server->url(QStringLiteral("a user"), QStringLiteral("p@ss:word/?"), QStringLiteral("records"));
        const QUrl parsed(url, QUrl::StrictMode);
        QVERIFY2(parsed.isValid(), qPrintable(parsed.errorString()));
        QCOMPARE(parsed.scheme(), QStringLiteral("postgresql"));
        QCOMPARE(parsed.userName(), QStringLiteral("a user"));
        QCOMPARE(parsed.password(), QStringLiteral("p@ss:word/?"));
        QCOMPARE(parsed.host(), QString());
        QCOMPARE(parsed.path(), QStringLiteral("/records"));
        QCOMPARE(QUrlQuery(parsed).queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded),
                 m_server->socketFolder());
        QVERIFY(url.startsWith(QStringLiteral("postgresql://a%20user:p%40ss%3Aword%2F%3F@/records?host=/")));
    }

    void aRowOutlivesARestart()
    {
        {
            Connection connection(m_server->url());
            QVERIFY2(connection.isOpen(), qPrintable(connection.error()));
            QString error;
            QVERIFY2(connection.exec(
                         QStringLiteral("CREATE TABLE kept (serial_number text PRIMARY KEY, count integer)"), &error),
                     qPrintable(error));
            QVERIFY2(connection.exec(QStringLiteral("INSERT INTO kept VALUES ('SN-0001', 3)"), &error),
                     qPrintable(error));
        }
        const qint64 before = m_server->serverPid();
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(m_server->stop(&error), qPrintable(error));
        qInfo("stop: %lld ms", timer.elapsed());
        QVERIFY(!m_server->isRunning());
        QVERIFY(hasEnded(before));
        {
            Connection connection(m_server->url());
            QVERIFY(!connection.isOpen());
        }
        timer.restart();
        QVERIFY2(m_server->startAgain(&error), qPrintable(error));
        qInfo("start again: %lld ms", timer.elapsed());
        Connection connection(m_server->url());
        QVERIFY2(connection.isOpen(), qPrintable(connection.error()));
        QCOMPARE(connection.value(QStringLiteral("SELECT count FROM kept WHERE serial_number = 'SN-0001'")).toInt(), 3);
    }

    void aWrongPasswordIsRefused()
    {
        Connection connection(m_server->url(PostgresServer::superuser(), QStringLiteral("not the password"),
                                            PostgresServer::databaseName()));
        QVERIFY(!connection.isOpen());
        QVERIFY2(connection.error().contains(QLatin1String("password authentication failed")),
                 qPrintable(connection.error()));
    }

    // A role made through psql: it may read and not write.
    void aReadOnlyRoleReadsAndCannotWrite()
    {
        QString error;
        QVERIFY2(m_server->sql(QStringLiteral("CREATE TABLE shared (n integer); INSERT INTO shared VALUES (7);"
                                              "CREATE ROLE reader LOGIN PASSWORD 'reader-secret';"
                                              "GRANT SELECT ON shared TO reader"),
                               &error),
                 qPrintable(error));
        QString output;
        QVERIFY2(m_server->sql(QStringLiteral("SELECT n, 'x' FROM shared"), &error, &output), qPrintable(error));
        QCOMPARE(output, QStringLiteral("7|x\n"));
        QVERIFY(!m_server->sql(QStringLiteral("SELECT * FROM missing"), &error));
        QVERIFY2(error.contains(QLatin1String("missing")), qPrintable(error));

        Connection reader(
            m_server->url(QStringLiteral("reader"), QStringLiteral("reader-secret"), PostgresServer::databaseName()));
        QVERIFY2(reader.isOpen(), qPrintable(reader.error()));
        QCOMPARE(reader.value(QStringLiteral("SELECT n FROM shared")).toInt(), 7);
        QVERIFY(!reader.exec(QStringLiteral("INSERT INTO shared VALUES (8)"), &error));
        QVERIFY2(error.contains(QLatin1String("permission denied")), qPrintable(error));
    }

    void theServerHasNoTcpPort()
    {
        QString output;
        QString error;
        QVERIFY2(m_server->sql(QStringLiteral("SHOW listen_addresses"), &error, &output), qPrintable(error));
        QCOMPARE(output, QStringLiteral("\n"));
        const QSet<QString> sockets = socketsOf(m_server->serverPid());
        QVERIFY(!sockets.isEmpty()); // its Unix socket at least
        const QStringList tcp = tcpSocketsAmong(sockets);
        QVERIFY2(tcp.isEmpty(), qPrintable(tcp.join(QLatin1String(", "))));
    }

    // A test's server does not sync its commits; one asked to be durable does, as a real server.
    void aDurableServerSyncsItsCommits()
    {
        const QString settings = QStringLiteral("SELECT current_setting('fsync') || ',' || "
                                                "current_setting('synchronous_commit') || ',' || "
                                                "current_setting('full_page_writes')");
        QString output;
        QString error;
        QVERIFY(!m_server->isDurable());
        QVERIFY2(m_server->sql(settings, &error, &output), qPrintable(error));
        QCOMPARE(output, QStringLiteral("off,off,off\n"));

        PostgresServer durable;
        durable.setDurable(true);
        QVERIFY2(durable.start(&error), qPrintable(error));
        QVERIFY2(durable.sql(settings, &error, &output), qPrintable(error));
        QCOMPARE(output, QStringLiteral("on,on,on\n"));
    }

    // Killed the way CTest's time-out kills (SIGKILL to the test and all it started), the test leaves no
    // server and no folder behind.
    void aKilledTestLeavesNoServer()
    {
        QTemporaryDir folder;
        const QString reportFile = folder.filePath(QStringLiteral("report"));
        // A process group of its own, as TestProcess makes, so that all of it can be killed at once.
        TestProcess test;
        test.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        test.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-a-server"), reportFile});
        QVERIFY(test.waitForStarted(5000));
        QVERIFY(waitFor([&] { return QFile::exists(reportFile) || test.state() == QProcess::NotRunning; }, 30000));
        QFile report(reportFile);
        QVERIFY2(report.open(QIODevice::ReadOnly), "the child did not start its server");
        const QStringList fields = QString::fromLocal8Bit(report.readAll()).trimmed().split(QLatin1Char(' '));
        QCOMPARE(fields.size(), 2);
        const qint64 server = fields.at(0).toLongLong();
        const QString serverFolder = fields.at(1);
        QVERIFY(server > 0);
        QVERIFY(!hasEnded(server));
        QVERIFY(QFileInfo::exists(serverFolder));

        ::kill(pid_t(-test.processId()), SIGKILL);
        QVERIFY(test.waitForFinished(5000));
        const bool ended = waitFor([&] { return hasEnded(server); }, 10000);
        if (!ended)
            ::kill(pid_t(server), SIGQUIT);
        QVERIFY2(ended, "the server outlived the test that started it");
        QVERIFY2(waitFor([&] { return !QFileInfo::exists(serverFolder); }, 10000), qPrintable(serverFolder));
    }

    void cleanupTestCase()
    {
        if (!m_server)
            return;
        const qint64 pid = m_server->serverPid();
        const QString folder = m_server->socketFolder();
        QElapsedTimer timer;
        timer.start();
        m_server.reset();
        qInfo("end (stop, folder removed): %lld ms", timer.elapsed());
        QVERIFY(pid == 0 || hasEnded(pid));
        QVERIFY(folder.isEmpty() || !QFileInfo::exists(folder));
    }

private:
    std::unique_ptr<PostgresServer> m_server;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--hold-a-server") == 0)
        return holdAServer(QString::fromLocal8Bit(argv[2]));
    TestPostgresServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_postgres_server.moc"
