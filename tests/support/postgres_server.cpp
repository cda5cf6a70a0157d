#include "postgres_server.h"

#include "test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr int kProgramTimeoutMs = 60000;
// pg_ctl gets 60 s (-t 60) in the keeper; this leaves it room to say how it went.
constexpr int kKeeperTimeoutMs = 90000;
constexpr int kKeeperEndTimeoutMs = 30000;
// sun_path's 108 bytes, with the ending zero.
constexpr int kMaxSocketPath = 107;

// The keeper: a shell outside the test's process tree (its own session, its parent gone), so that neither
// a kill of the test's process group nor CTest's kill of the test's descendants at a time-out reaches it.
// It reads commands from the test on a socket; the socket's end (the test closed its side, or the test
// died, which closes it too) stops the server at once and removes the folder. The server's own
// parent-death signal would not do: pg_ctl's postmaster detaches from whoever started it, and a change of
// user clears such a signal anyway.
// $1: PostgreSQL's programs, $2: the cluster, $3: the folder, $4: "nobody" when those programs run as nobody.
const char kKeeperScript[] = R"sh(
trap '' PIPE HUP INT TERM QUIT
bin=$1 data=$2 folder=$3 owner=$4
run() {
    if [ -n "$owner" ]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
    else
        "$@"
    fi </dev/null >>"$folder/pg_ctl.log" 2>&1
}
while IFS= read -r command; do
    case $command in
    start) run "$bin/pg_ctl" start -w -t 60 -D "$data" -l "$folder/server.log"; echo "start $?" ;;
    stop) run "$bin/pg_ctl" stop -w -t 60 -D "$data" -m fast; echo "stop $?" ;;
    crash) run "$bin/pg_ctl" stop -w -t 60 -D "$data" -m immediate; echo "crash $?" ;;
    *) echo "$command 2" ;;
    esac
done
if [ -f "$data/postmaster.pid" ]; then
    run "$bin/pg_ctl" stop -w -t 30 -D "$data" -m immediate
fi
rm -rf "$folder"
)sh";

bool isRoot()
{
    return ::geteuid() == 0;
}

// The environment of everything started here: none of the caller's PG* variables (PGHOST, PGDATA...),
// which could point a program at another server.
QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("PG")))
            environment.remove(name);
    }
    if (!environment.contains(QStringLiteral("PATH")))
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll());
}

// The last lines of a log, enough for a test's message.
QString tail(const QString &text, int lines = 20)
{
    QStringList all = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (all.size() > lines)
        all = all.mid(all.size() - lines);
    return all.join(QLatin1Char('\n'));
}

// A descriptor at 3 or above, so that placing the keeper's on 0, 1 and 2 overwrites none of them.
int aboveStandardOnes(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

} // namespace

PostgresServer::PostgresServer() = default;

PostgresServer::~PostgresServer()
{
    // A server left stopped would hold its keeper's immediate stop up.
    resume();
    if (m_commands >= 0) {
        // No more commands: the keeper stops the server and removes the folder; its side of the socket
        // closes when it has done so.
        ::shutdown(m_commands, SHUT_WR);
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            const int left = kKeeperEndTimeoutMs - int(timer.elapsed());
            if (left <= 0)
                break;
            pollfd wait{m_commands, POLLIN, 0};
            const int ready = ::poll(&wait, 1, left);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char buffer[256];
            const ssize_t got = ::read(m_commands, buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EINTR))
                break;
        }
        ::close(m_commands);
    }
    // Whatever the keeper could not remove goes with the temporary folder.
}

QString PostgresServer::binFolder()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    int best = -1;
    QString found;
    for (const QString &version : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const int number = version.toInt(&isNumber);
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        if (isNumber && number > best && QFileInfo(bin + QStringLiteral("/initdb")).isExecutable()) {
            best = number;
            found = bin;
        }
    }
    return found;
}

QString PostgresServer::unavailableReason()
{
    const QString bin = binFolder();
    if (bin.isEmpty())
        return QStringLiteral("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb; "
                              "Debian package postgresql)");
    for (const char *program : {"pg_ctl", "postgres", "psql"}) {
        if (!QFileInfo(bin + QLatin1Char('/') + QLatin1String(program)).isExecutable())
            return QStringLiteral("%1/%2 is missing").arg(bin, QLatin1String(program));
    }
    QString reason;
    if (isRoot() && !canRunAsNobody(&reason))
        return QStringLiteral("PostgreSQL cannot run as root and the user nobody cannot be had: ") + reason;
    if (isRoot() && (::getpwnam("nobody") == nullptr || ::getgrnam("nogroup") == nullptr))
        return QStringLiteral("PostgreSQL cannot run as root and there is no user nobody or group nogroup");
    return {};
}

QString PostgresServer::superuser()
{
    return QStringLiteral("modulebench");
}

QString PostgresServer::superuserPassword()
{
    return QStringLiteral("bench-superuser-secret");
}

QString PostgresServer::databaseName()
{
    return QStringLiteral("records");
}

QString PostgresServer::socketFolder() const
{
    return m_folder;
}

QString PostgresServer::dataFolder() const
{
    return m_folder.isEmpty() ? QString() : m_folder + QStringLiteral("/data");
}

QString PostgresServer::url(const QString &user, const QString &password, const QString &database) const
{
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty()) {
        text += QString::fromLatin1(QUrl::toPercentEncoding(user));
        if (!password.isEmpty())
            text += QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(password));
        text += QLatin1Char('@');
    }
    return text + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(database))
        + QStringLiteral("?host=") + QString::fromLatin1(QUrl::toPercentEncoding(m_folder, "/"))
        + (m_tcpPort > 0 ? QStringLiteral("&port=%1").arg(m_tcpPort) : QString());
}

QString PostgresServer::tcpUrl(const QString &user, const QString &password, const QString &database) const
{
    return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/%4")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)), QString::fromLatin1(QUrl::toPercentEncoding(password)))
        .arg(m_tcpPort)
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(database)));
}

QString PostgresServer::url() const
{
    return url(superuser(), superuserPassword(), databaseName());
}

qint64 PostgresServer::serverPid() const
{
    if (!m_running)
        return 0;
    QFile file(dataFolder() + QStringLiteral("/postmaster.pid"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toLongLong();
}

QString PostgresServer::log() const
{
    return m_folder.isEmpty() ? QString() : readText(m_folder + QStringLiteral("/server.log"));
}

bool PostgresServer::start(QString *error)
{
    if (m_started) {
        *error = QStringLiteral("this server was started before; startAgain() starts it after a stop()");
        return false;
    }
    m_started = true;
    const QString reason = unavailableReason();
    if (!reason.isEmpty()) {
        *error = reason;
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/modulebench-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        *error = QStringLiteral("no temporary folder: ") + m_dir->errorString();
        return false;
    }
    m_folder = m_dir->path();
    if (QFile::encodeName(m_folder + QStringLiteral("/.s.PGSQL.5432")).size() > kMaxSocketPath) {
        *error = QStringLiteral("the temporary folder's path is too long for a Unix socket: ") + m_folder;
        return false;
    }
    if (isRoot()
        && ::chown(QFile::encodeName(m_folder).constData(), ::getpwnam("nobody")->pw_uid, ::getgrnam("nogroup")->gr_gid)
            != 0) {
        *error = QStringLiteral("cannot hand %1 to nobody: %2")
                     .arg(m_folder, QString::fromLocal8Bit(::strerror(errno)));
        return false;
    }
    // The keeper comes first, so that a test killed from here on leaves nothing behind.
    if (!startKeeper(error) || !initCluster(error))
        return false;
    if (!startAgain(error))
        return false;
    QString sqlError;
    // FILE_COPY copies template1's files as they are: quicker on so small a database than writing it all to the WAL.
    if (!sql(QStringLiteral("CREATE DATABASE %1 STRATEGY = FILE_COPY").arg(databaseName()), &sqlError, nullptr,
             QStringLiteral("postgres"))) {
        *error = QStringLiteral("cannot create the database: ") + sqlError;
        return false;
    }
    return true;
}

bool PostgresServer::startKeeper(QString *error)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        *error = QStringLiteral("no socket pair for the keeper: ") + QString::fromLocal8Bit(::strerror(errno));
        return false;
    }
    const int ours = ends[0];
    const int keepers = aboveStandardOnes(ends[1]);
    const int log = aboveStandardOnes(::open(QFile::encodeName(m_folder + QStringLiteral("/keeper.log")).constData(),
                                             O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));

    // Everything the child needs is made before the fork: after it, only async-signal-safe calls.
    const std::vector<QByteArray> arguments{"sh",
                                            "-c",
                                            kKeeperScript,
                                            "modulebench-pg-keeper",
                                            QFile::encodeName(binFolder()),
                                            QFile::encodeName(dataFolder()),
                                            QFile::encodeName(m_folder),
                                            isRoot() ? QByteArray("nobody") : QByteArray()};
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<QByteArray> variables;
    for (const QString &variable : cleanEnvironment().toStringList())
        variables.push_back(variable.toLocal8Bit());
    std::vector<char *> envp;
    for (const QByteArray &variable : variables)
        envp.push_back(const_cast<char *>(variable.constData()));
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        // A session of its own, out of the test's process group; the keeper is the grandchild, so that its
        // parent is gone at once and it is nobody's descendant in the test's tree.
        ::setsid();
        const pid_t keeper = ::fork();
        if (keeper != 0)
            ::_exit(keeper > 0 ? 0 : 1);
        if (keepers < 0 || ::dup2(keepers, 0) < 0 || ::dup2(keepers, 1) < 0)
            ::_exit(127);
        if (log >= 0)
            ::dup2(log, 2);
        // Nothing of the test's stays open in it (CTest's output pipe among others).
        ::close_range(3, ~0U, 0);
        ::execve("/bin/sh", argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(keepers);
    if (log >= 0)
        ::close(log);
    if (child < 0) {
        ::close(ours);
        *error = QStringLiteral("cannot start the keeper: ") + QString::fromLocal8Bit(::strerror(errno));
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    m_commands = ours;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = QStringLiteral("cannot start the keeper (fork)");
        return false;
    }
    return true;
}

bool PostgresServer::askKeeper(const QByteArray &command, int timeoutMs, QString *error)
{
    const QByteArray line = command + '\n';
    if (m_commands < 0 || ::send(m_commands, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size()) {
        *error = QStringLiteral("the keeper is gone");
        return false;
    }
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (!reply.contains('\n')) {
        const int left = timeoutMs - int(timer.elapsed());
        pollfd wait{m_commands, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&wait, 1, left) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            *error = QStringLiteral("no answer to %1 from the keeper within %2 s")
                         .arg(QString::fromLatin1(command))
                         .arg(timeoutMs / 1000);
            return false;
        }
        char buffer[64];
        const ssize_t got = ::read(m_commands, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *error = QStringLiteral("the keeper ended: ") + tail(readText(m_folder + QStringLiteral("/keeper.log")));
            return false;
        }
        reply.append(buffer, int(got));
    }
    reply = reply.left(reply.indexOf('\n'));
    if (reply == command + " 0")
        return true;
    *error = QStringLiteral("pg_ctl %1 failed (%2):\n%3\nserver log:\n%4")
                 .arg(QString::fromLatin1(command), QString::fromLatin1(reply),
                      tail(readText(m_folder + QStringLiteral("/pg_ctl.log"))), tail(log()));
    return false;
}

// initdb's options besides the folders; a template cluster is kept for each set of them.
QStringList PostgresServer::initdbOptions()
{
    // No fsync on a cluster thrown away with the test (--no-sync here, fsync = off in its settings);
    // WAL segments of 1 MB rather than 16, less to copy from the template.
    return {QStringLiteral("-U"), superuser(), QStringLiteral("--auth=scram-sha-256"), QStringLiteral("-E"),
            QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync"),
            QStringLiteral("--wal-segsize=1")};
}

QString PostgresServer::templateFolder()
{
#ifdef MB_POSTGRES_TEMPLATE_DIR
    // One per PostgreSQL version, set of options and owner: a copy keeps its files' owner, and the
    // password is in the cluster.
    const QByteArray key = (initdbOptions() + QStringList{superuserPassword(), QString::number(::geteuid())})
                               .join(QLatin1Char('\n'))
                               .toUtf8();
    const QString bin = binFolder();
    return QStringLiteral(MB_POSTGRES_TEMPLATE_DIR "/%1-%2")
        .arg(QFileInfo(QFileInfo(bin).path()).fileName(),
             QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(12)));
#else
    return {};
#endif
}

bool PostgresServer::initCluster(QString *error)
{
    // initdb takes seconds, a copy of a cluster it made before a fraction of one: the first server of a
    // build tree leaves a copy of its fresh cluster for the next ones.
    const QString kept = templateFolder();
    if (!kept.isEmpty() && QFileInfo::exists(kept + QStringLiteral("/PG_VERSION"))) {
        if (copyFolder(kept, dataFolder()))
            return configure(error);
        QDir(dataFolder()).removeRecursively();
    }
    if (!runInitdb(error))
        return false;
    if (!kept.isEmpty()) {
        // Made aside and renamed, so that a test beside this one finds all of it or nothing.
        const QString aside = kept + QStringLiteral(".part-%1").arg(::getpid());
        QDir().mkpath(QFileInfo(kept).path());
        if (!copyFolder(dataFolder(), aside)
            || ::rename(QFile::encodeName(aside).constData(), QFile::encodeName(kept).constData()) != 0)
            QDir(aside).removeRecursively();
    }
    return configure(error);
}

bool PostgresServer::copyFolder(const QString &from, const QString &to)
{
    TestProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral("--"), from, to});
    return process.waitForFinished(kProgramTimeoutMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

bool PostgresServer::runInitdb(QString *error)
{
    const QString passwordFile = m_folder + QStringLiteral("/superuser-password");
    QFile password(passwordFile);
    bool ok = password.open(QIODevice::WriteOnly) && password.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        && password.write(superuserPassword().toUtf8() + '\n') > 0;
    password.close();
    if (ok && isRoot())
        ok = ::chown(QFile::encodeName(passwordFile).constData(), ::getpwnam("nobody")->pw_uid, 0) == 0;
    if (!ok) {
        *error = QStringLiteral("cannot write ") + passwordFile;
        return false;
    }

    const QString initdb = binFolder() + QStringLiteral("/initdb");
    const QStringList arguments =
        QStringList{QStringLiteral("-D"), dataFolder(), QStringLiteral("--pwfile=") + passwordFile} + initdbOptions();
    TestProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(cleanEnvironment());
    // nobody may not be able to get into the test's own working folder.
    process.setWorkingDirectory(m_folder);
    if (isRoot()) {
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                  QStringLiteral("--clear-groups"), QStringLiteral("--pdeathsig=SIGKILL"),
                                  QStringLiteral("--"), initdb}
                          + arguments);
    } else {
        process.start(initdb, arguments);
    }
    const bool finished = process.waitForFinished(kProgramTimeoutMs);
    QFile::remove(passwordFile);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("initdb failed: ") + tail(QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool PostgresServer::configure(QString *error)
{
    // The socket only in the test's folder (Debian's own default is /var/run/postgresql, the system
    // cluster's), no TCP at all; speed over safety on a cluster that lives as long as the test, unless it
    // was asked to sync as a real server does.
    QString folder = m_folder;
    folder.replace(QLatin1Char('\''), QStringLiteral("''"));
    const QString syncing = m_durable ? QStringLiteral("fsync = on\n"
                                                      "synchronous_commit = on\n"
                                                      "full_page_writes = on\n")
                                      : QStringLiteral("fsync = off\n"
                                                      "synchronous_commit = off\n"
                                                      "full_page_writes = off\n");
    QString listen = QStringLiteral("listen_addresses = ''\n");
    if (m_tcp) {
        // A port free now: bound to and let go, for the server to take.
        const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (probe < 0 || ::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            if (probe >= 0)
                ::close(probe);
            *error = QStringLiteral("no free TCP port");
            return false;
        }
        m_tcpPort = ntohs(address.sin_port);
        ::close(probe);
        listen = QStringLiteral("listen_addresses = '127.0.0.1'\nport = %1\n").arg(m_tcpPort);
    }
    QFile config(dataFolder() + QStringLiteral("/postgresql.conf"));
    if (!config.open(QIODevice::Append | QIODevice::Text)
        || config.write(QStringLiteral("\n# The test's own server.\n"
                                       "%3"
                                       "unix_socket_directories = '%1'\n"
                                       "unix_socket_permissions = 0700\n"
                                       "%2")
                            .arg(folder, syncing, listen)
                            .toUtf8())
            <= 0) {
        *error = QStringLiteral("cannot write ") + config.fileName();
        return false;
    }
    return true;
}

bool PostgresServer::startAgain(QString *error)
{
    if (m_commands < 0 || dataFolder().isEmpty()) {
        *error = QStringLiteral("the server was never set up: start() first");
        return false;
    }
    if (m_running)
        return true;
    if (!askKeeper("start", kKeeperTimeoutMs, error))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop(QString *error)
{
    return stopWith("stop", error);
}

bool PostgresServer::stopAtOnce(QString *error)
{
    return stopWith("crash", error);
}

bool PostgresServer::stopWith(const QByteArray &command, QString *error)
{
    if (!m_running)
        return true;
    const qint64 pid = serverPid();
    QString why;
    if (!askKeeper(command, kKeeperTimeoutMs, &why)) {
        if (error)
            *error = why;
        return false;
    }
    m_running = false;
    // pg_ctl has seen the pid file go; the postmaster itself ends a moment later.
    if (pid > 0 && !waitUntilGone(pid, 10000)) {
        if (error)
            *error = QStringLiteral("the server (%1) still runs after pg_ctl stop").arg(pid);
        return false;
    }
    return true;
}

bool PostgresServer::waitUntilGone(qint64 pid, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (!hasEnded(pid)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool PostgresServer::sql(const QString &statement, QString *error, QString *output, const QString &database)
{
    if (!m_running) {
        *error = QStringLiteral("the server is not running");
        return false;
    }
    QProcessEnvironment environment = cleanEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), superuserPassword());
    environment.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
    environment.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    TestProcess process;
    process.setProcessEnvironment(environment);
    // -X: no ~/.psqlrc; the whole text in one go, its first error ends it with a non-zero status.
    QStringList arguments{QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                          QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), m_folder,
                          QStringLiteral("-U"), superuser(), QStringLiteral("-d"),
                          database.isEmpty() ? databaseName() : database, QStringLiteral("-c"), statement};
    if (m_tcpPort > 0)
        arguments << QStringLiteral("-p") << QString::number(m_tcpPort);
    process.start(binFolder() + QStringLiteral("/psql"), arguments);
    const bool finished = process.waitForFinished(kProgramTimeoutMs);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError()).trimmed();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = err.isEmpty() ? QStringLiteral("psql did not finish") : err;
        return false;
    }
    if (output)
        *output = out;
    return true;
}

namespace {

// The parent of a process, from /proc/PID/stat (the field after the name, which is in parentheses and may hold
// any character); 0 when it cannot be read.
qint64 parentOf(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const int end = text.lastIndexOf(')');
    if (end < 0)
        return 0;
    const QList<QByteArray> fields = text.mid(end + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

} // namespace

bool PostgresServer::pause(QString *error)
{
    const qint64 postmaster = serverPid();
    if (postmaster <= 0 || ::kill(pid_t(postmaster), SIGSTOP) != 0) {
        *error = QStringLiteral("no server to stop");
        return false;
    }
    // The postmaster first: stopped, it starts no new process while its children are looked for.
    m_paused << postmaster;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (isPid && parentOf(entry) == postmaster && ::kill(pid_t(pid), SIGSTOP) == 0)
            m_paused << pid;
    }
    return true;
}

void PostgresServer::resume()
{
    // The children first, so that the postmaster finds them going on.
    for (auto pid = m_paused.crbegin(); pid != m_paused.crend(); ++pid)
        ::kill(pid_t(*pid), SIGCONT);
    m_paused.clear();
}
