// How a --db value is shown in any message: the password hidden, whether the value could be read or not.
#include "database_address.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace {

const QString kHidden = QStringLiteral("***");

bool isSecretKey(const QString &key)
{
    const QString name = QUrl::fromPercentEncoding(key.trimmed().toUtf8()).trimmed().toLower();
    return name == QLatin1String("pwd") || name == QLatin1String("password") || name == QLatin1String("passwd");
}

// A value in a connection string: plain up to the next ';', or {braced} (with }} for a } in it) up to the ';'
// after the closing brace. An unclosed brace runs to the end. The index of the ';' that ends it, or the length.
qsizetype valueEnd(const QString &text, qsizetype from, bool &unclosed)
{
    unclosed = false;
    qsizetype at = from;
    while (at < text.size() && text.at(at).isSpace())
        ++at;
    if (at < text.size() && text.at(at) == QLatin1Char('{')) {
        ++at;
        while (at < text.size()) {
            if (text.at(at) == QLatin1Char('}')) {
                if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('}')) {
                    at += 2;
                    continue;
                }
                break;
            }
            ++at;
        }
        if (at >= text.size()) {
            unclosed = true;
            return text.size();
        }
    }
    const qsizetype semicolon = text.indexOf(QLatin1Char(';'), at);
    return semicolon < 0 ? text.size() : semicolon;
}

// URL query items (?password=..., &pwd=...), the key read as libpq decodes it.
QString withoutQueryPasswords(const QString &text)
{
    const qsizetype mark = text.indexOf(QLatin1Char('?'));
    if (mark < 0)
        return text;
    QStringList items = text.mid(mark + 1).split(QLatin1Char('&'));
    for (QString &item : items) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals >= 0 && isSecretKey(item.left(equals)))
            item = item.left(equals + 1) + kHidden;
    }
    return text.left(mark + 1) + items.join(QLatin1Char('&'));
}

// user:password@ in a URL, read generously: from the first ':' after the scheme (and its slashes, however
// many; no scheme without one) to the last '@' of the whole value. A value whose password holds a '/', '?' or
// '@' the user did not encode still shows none of it; an address that is no URL at all loses at most some of
// its words.
QString withoutUserPassword(const QString &text)
{
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return text;
    qsizetype start = 0;
    qsizetype scheme = 0;
    while (scheme < at && (text.at(scheme).isLetterOrNumber() || text.at(scheme) == QLatin1Char('+')
                           || text.at(scheme) == QLatin1Char('.') || text.at(scheme) == QLatin1Char('-')))
        ++scheme;
    // A scheme is followed by at least one slash; without one the first ':' may be the user's own.
    if (scheme > 0 && scheme + 1 < at && text.at(scheme) == QLatin1Char(':')
        && text.at(scheme + 1) == QLatin1Char('/')) {
        start = scheme + 1;
        while (start < at && text.at(start) == QLatin1Char('/'))
            ++start;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon + 1) + kHidden + text.mid(at);
}

} // namespace

QString DatabaseAddress::shownConnectionString(const QString &text)
{
    QString shown;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), from);
        const qsizetype semicolon = text.indexOf(QLatin1Char(';'), from);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            const qsizetype end = semicolon < 0 ? text.size() : semicolon + 1;
            shown += text.mid(from, end - from);
            from = end;
            continue;
        }
        bool unclosed = false;
        const qsizetype end = valueEnd(text, equals + 1, unclosed);
        shown += text.mid(from, equals + 1 - from);
        // A brace left open takes in the rest, a password too, as a driver may read it; a braced value that
        // holds a password's key is hidden as well, its braces being the user's mistake.
        static const QRegularExpression secretInside(QStringLiteral("[{;]\\s*(?:pwd|password|passwd)\\s*="),
                                                     QRegularExpression::CaseInsensitiveOption);
        const QString value = text.mid(equals + 1, end - equals - 1);
        shown += isSecretKey(text.mid(from, equals - from)) || unclosed || value.contains(secretInside) ? kHidden
                                                                                                      : value;
        if (end < text.size())
            shown += QLatin1Char(';');
        from = end + 1;
    }
    return shown;
}

QString DatabaseAddress::withoutPasswords(const QString &value)
{
    return withoutUserPassword(withoutQueryPasswords(shownConnectionString(value)));
}

QString DatabaseAddress::shownForm(const QString &value)
{
    QString error;
    if (const std::optional<DatabaseAddress> address = parse(value, error))
        return address->shown();
    return withoutPasswords(value);
}
