// Arbitrary --db values for the address parser and the form messages show it in. The input is cut in two pieces,
// and a password is put where each form of address keeps one (user:PASSWORD@ after every scheme spelling,
// ?password= and &password=, ODBC's PWD= plain and {braced}); the message the program would print for it, read or
// not ("--db SHOWN: REASON"), never holds the password. The input as it is must be shown without a fault.
// Built as a libFuzzer target with clang, and run over the stored corpus by a plain sanitized test.

#include "database_address.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kSecret = QStringLiteral("Qz7Secret");

void require(bool holds, const char *what, const QString &address)
{
    if (holds)
        return;
    std::fprintf(stderr, "address fault: %s: %s\n", what, address.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

// The one line a refusal prints, as the console program builds it.
QString message(const QString &value)
{
    QString error;
    const std::optional<DatabaseAddress> address = DatabaseAddress::parse(value, error);
    QString line = QStringLiteral("--db ") + DatabaseAddress::shownForm(value) + QStringLiteral(": ") + error;
    if (address)
        line += QLatin1Char(' ') + address->shown();
    return line;
}

QString without(QString text, const QString &characters)
{
    for (const QChar c : characters)
        text.remove(c);
    return text;
}

void check(const QByteArray &bytes)
{
    const QString input = QString::fromUtf8(bytes);
    message(input);
    if (input.contains(kSecret, Qt::CaseInsensitive) || bytes.isEmpty())
        return;
    const int cut = int(static_cast<unsigned char>(bytes.at(0))) % (int(input.size()) + 1);
    const QString first = input.mid(1, cut);
    const QString second = input.mid(1 + cut);
    QStringList addresses;
    // The user's part ends at the first '/', '?' or '@', as libpq reads it.
    const QString user = without(first, QStringLiteral("/?@"));
    for (const char *scheme : {"postgresql://", "postgres://", "POSTGRESQL://", "postgresql:/", "postgresql:"})
        addresses << QLatin1String(scheme) + user + QLatin1Char(':') + kSecret + QLatin1Char('@') + second;
    const QString url = QStringLiteral("postgresql://") + without(first, QStringLiteral("?"));
    addresses << url + QStringLiteral("?password=") + kSecret + QLatin1Char('&') + second
              << url + QStringLiteral("?x=1&PassWord=") + kSecret
              << url + QStringLiteral("?pass%77ord=") + kSecret + QLatin1Char('&') + second;
    for (const char *scheme : {"odbc:", "ODBC:"}) {
        const QString odbc = QLatin1String(scheme) + first;
        addresses << odbc + QStringLiteral(";PWD=") + kSecret + QLatin1Char(';') + second
                  << odbc + QStringLiteral(";pwd = {") + kSecret + QStringLiteral(";}}") + second + QLatin1Char('}')
                  << odbc + QStringLiteral(";Password={x") + kSecret;
    }
    for (const QString &address : addresses)
        require(!message(address).contains(kSecret), "the password is shown", address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
