#include "database_address.h"

#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace {

// How long a server gets to answer a connection, unless the address says otherwise.
constexpr int kConnectTimeoutSeconds = 5;
// A TCP connection whose server has gone without a word (its machine off, the network cut) is given up after
// 10 s without a thing from it and three unanswered keepalives 3 s apart, or data unacknowledged for 20 s;
// not a quarter of an hour later, as the kernel would.
const QStringList kDefaultOptions{QStringLiteral("keepalives=1"), QStringLiteral("keepalives_idle=10"),
                                  QStringLiteral("keepalives_interval=3"), QStringLiteral("keepalives_count=3"),
                                  QStringLiteral("tcp_user_timeout=20000")};

// The query items of a PostgreSQL URL that are passed to libpq as they are.
const QStringList kPassedOptions{QStringLiteral("connect_timeout"), QStringLiteral("sslmode"),
                                 QStringLiteral("sslrootcert"),     QStringLiteral("sslcert"),
                                 QStringLiteral("sslkey"),          QStringLiteral("application_name"),
                                 QStringLiteral("target_session_attrs"), QStringLiteral("keepalives"),
                                 QStringLiteral("keepalives_idle"), QStringLiteral("keepalives_interval"),
                                 QStringLiteral("keepalives_count"), QStringLiteral("tcp_user_timeout")};

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

// A part of the address quoted in a message, only where the address as shown shows it too: a password the
// user did not encode may have been read as a port or a key.
QString quotedPart(const QString &url, const QString &part, const QString &otherwise)
{
    const QString visible = DatabaseAddress::withoutPasswords(url);
    return visible.contains(part) && !part.contains(QLatin1String("***")) ? QLatin1Char('"') + part + QLatin1Char('"')
                                                                           : otherwise;
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
            error = QStringLiteral("%1 is no connection setting the tool passes on (%2)")
                        .arg(quotedPart(url, key, QStringLiteral("a query item")),
                             kPassedOptions.join(QStringLiteral(", ")));
            return std::nullopt;
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        address.port = portText.toInt(&ok);
        if (!ok || address.port < 1 || address.port > 65535) {
            error = QStringLiteral("%1 is no port number").arg(quotedPart(url, portText, QStringLiteral("the port")));
            return std::nullopt;
        }
    }
    if (address.database.isEmpty()) {
        error = QStringLiteral("the address names no database (postgresql://user@host/DATABASE)");
        return std::nullopt;
    }
    if (!query.contains(QLatin1String("connect_timeout=")))
        options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds);
    for (const QString &option : kDefaultOptions) {
        if (!query.contains(option.section(QLatin1Char('='), 0, 0) + QLatin1Char('=')))
            options << option;
    }
    address.connectOptions = options.join(QLatin1Char(';'));
    return address;
}

} // namespace

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
    case Kind::Odbc:
        return QStringLiteral("odbc:") + shownConnectionString(connectionString);
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

