#include "since_time.h"

#include <QRegularExpression>

std::optional<QDateTime> parseSinceTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^([0-9]{4})-([0-9]{2})-([0-9]{2})"
        "(?:T([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,3}))?)?(Z|[+-][0-9]{2}:[0-9]{2})?)?\\z"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&match](int group) { return match.captured(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    if (!date.isValid())
        return std::nullopt;
    if (!match.hasCaptured(4))
        return QDateTime(date, QTime(0, 0));
    const QString fraction = match.captured(7);
    const QTime time(number(4), number(5), number(6), fraction.isEmpty() ? 0 : fraction.leftJustified(3, '0').toInt());
    if (!time.isValid())
        return std::nullopt;
    const QString zone = match.captured(8);
    if (zone.isEmpty())
        return QDateTime(date, time);
    if (zone == QLatin1String("Z"))
        return QDateTime(date, time, Qt::UTC);
    const int hours = zone.mid(1, 2).toInt();
    const int minutes = zone.mid(4, 2).toInt();
    if (hours > 14 || minutes > 59 || (hours == 14 && minutes > 0))
        return std::nullopt;
    const int seconds = (zone.startsWith(QLatin1Char('-')) ? -1 : 1) * (hours * 3600 + minutes * 60);
    const QDateTime result(date, time, Qt::OffsetFromUTC, seconds);
    return result.isValid() ? std::optional<QDateTime>(result) : std::nullopt;
}
