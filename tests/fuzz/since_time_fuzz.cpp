// Arbitrary --since values. A value taken is a date (and time) that exists, written as the help says, every field
// in its range; one with an offset or Z names the moment its own fields say.
// Built as a libFuzzer target with clang, and run over the stored corpus by a plain sanitized test.

#include "since_time.h"

#include <QByteArray>
#include <QString>
#include <QDateTime>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char *what, const QString &text)
{
    if (holds)
        return;
    std::fprintf(stderr, "--since fault: %s: %s\n", what, text.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

void check(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    const std::optional<QDateTime> since = parseSinceTime(text);
    if (!since)
        return;
    require(since->isValid(), "an invalid time taken", text);
    require(text.size() == 10 || (text.size() >= 16 && text.size() <= 29), "a length no form has", text);
    for (const QChar c : text)
        require(c.unicode() < 0x80 && c.isPrint(), "a character no form has", text);
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    require(date.isValid(), "a date that does not exist", text);
    if (text.size() == 10) {
        require(since->date() == date && since->time() == QTime(0, 0), "a date alone is not its midnight", text);
        return;
    }
    const int hour = text.mid(11, 2).toInt();
    const int minute = text.mid(14, 2).toInt();
    require(text.at(10) == QLatin1Char('T') && hour < 24 && minute < 60, "a time out of range", text);
    int offset = 0;
    if (text.endsWith(QLatin1Char('Z'))) {
        offset = 0;
    } else if (const QChar sign = text.at(text.size() - 6);
               text.size() >= 22 && (sign == QLatin1Char('+') || sign == QLatin1Char('-'))) {
        const int hours = text.mid(text.size() - 5, 2).toInt();
        const int minutes = text.right(2).toInt();
        require(hours * 60 + minutes <= 14 * 60 && minutes < 60, "an offset out of range", text);
        offset = (sign == QLatin1Char('-') ? -1 : 1) * (hours * 3600 + minutes * 60);
    } else {
        return; // local time: a time in a change to summer time moves on
    }
    const QDateTime own = since->toOffsetFromUtc(offset);
    require(own.date() == date && own.time().hour() == hour && own.time().minute() == minute,
            "the moment is not the one written", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
