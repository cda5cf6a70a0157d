// Arbitrary settings files for the settings reader, with what it promises checked: a text it accepts has no
// NUL byte and is UTF-8; a save into an accepted text (the window's and the console program's keys) gives a
// text that is accepted again, holds the saved values as saved and every other General value as before.
// Built as a libFuzzer target with clang, and run over the stored corpora by a plain sanitized test.

#include "settings_ini.h"

#include <QByteArray>
#include <QStringDecoder>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "settings reader fault: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

bool isUtf8(const QByteArray &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(text);
    return !decoder.hasError();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The store reads at most 64 KiB; more adds nothing here.
    if (size > 64 * 1024)
        return 0;
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QVariantMap> values = readIniValues(text);
    if (!values)
        return 0;
    require(!text.contains('\0'), "a text with a NUL byte accepted");
    require(isUtf8(text), "a text that is not UTF-8 accepted");

    // The values as the window and the console program save them; the text the input may hold for each
    // is replaced, so what they held must not leak into what is read back.
    const StoredValues saved{{QStringLiteral("ScanCommNo"), 7},
                             {QStringLiteral("ScanBaudRateNo"), 3},
                             {QStringLiteral("ScanBaudRate"), QStringLiteral("57600,n,8,1")},
                             {QStringLiteral("LanguageFlag"), QStringLiteral(" \"Chinese\\GB\"=;\x1b")}};
    const QByteArray updated = withIniValues(text, saved);
    const std::optional<QVariantMap> again = readIniValues(updated);
    require(again.has_value(), "a save made an accepted text unreadable");
    for (const auto &[key, value] : saved)
        require(again->value(key).toString() == value.toString(), "a saved value reads back otherwise");
    for (auto it = values->cbegin(); it != values->cend(); ++it) {
        bool isSaved = false;
        for (const auto &pair : saved)
            isSaved |= pair.first == it.key();
        if (!isSaved)
            require(again->value(it.key()) == it.value(), "a save changed a value it does not write");
    }
    require(again->size() >= values->size(), "a save lost a value");
    return 0;
}
