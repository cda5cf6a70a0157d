#include "settings_store.h"

#include "settings_location.h"

#include <QStringList>
#include <QVariant>

#include <limits>
#include <optional>

namespace {

const QString kPortKey = QStringLiteral("ScanCommNo");
const QString kLineSettingsIndexKey = QStringLiteral("ScanBaudRateNo");
const QString kLineSettingsKey = QStringLiteral("ScanBaudRate");
const QString kLanguageKey = QStringLiteral("LanguageFlag");

constexpr int kDefaultPortNumber = 0;
const char *const kDefaultLineSettings = kLineSettingsTable[kDefaultLineSettingsIndex];
const QString kDefaultLanguageName = QStringLiteral("English");

using Sources = std::vector<QVariantMap>;

// A registry DWORD arrives as an integer, an INI value as text; "12abc" is no number.
std::optional<int> toInt32(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const qlonglong number = value.toLongLong(&ok);
        if (ok && number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max())
            return int(number);
        return std::nullopt;
    }
    case QMetaType::QString: {
        bool ok = false;
        const int number = value.toString().trimmed().toInt(&ok, 10);
        return ok ? std::optional<int>(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// An unquoted a,b,c in a hand-edited file reads as a list; the commas belong to the text.
std::optional<QString> toText(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return value.toStringList().join(QLatin1Char(','));
    default:
        return std::nullopt;
    }
}

// Anything beyond the twelve entries would index past the line-settings table later on.
std::optional<int> toLineSettingsIndex(const QVariant &value)
{
    const std::optional<int> index = toInt32(value);
    if (index && *index >= 0 && *index < kLineSettingsCount)
        return index;
    return std::nullopt;
}

// The first source with a usable value wins; a value of the wrong kind counts as missing there.
template <typename Convert>
auto readFirst(const Sources &sources, const QString &key, Convert convert) -> decltype(convert(QVariant()))
{
    for (const auto &source : sources) {
        if (auto converted = convert(source.value(key)))
            return converted;
    }
    return std::nullopt;
}

} // namespace

Q_LOGGING_CATEGORY(lcSettings, "modulebench.settings", QtInfoMsg)

int languageIndexForName(const QString &name)
{
    if (name == QLatin1String("ChineseGB"))
        return 1;
    if (name == QLatin1String("ChineseBIG5"))
        return 2;
    return 0;
}

void SettingsStore::loadSettings()
{
    m_portNumber = kDefaultPortNumber;
    m_lineSettings = kDefaultLineSettings;
    m_lineSettingsIndex = kDefaultLineSettingsIndex;
    selectLanguage(0, kDefaultLanguageName);

    const Sources sources = readStoredValues();
    // A port outside 1..16 is kept as read: the scan knows what to do with it.
    m_portNumber = readFirst(sources, kPortKey, toInt32).value_or(kDefaultPortNumber);
    if (const auto text = readFirst(sources, kLineSettingsKey, toText))
        m_lineSettings = text->toLatin1();
    // Read apart from the text: a pair that disagrees stays as it is.
    m_lineSettingsIndex =
        readFirst(sources, kLineSettingsIndexKey, toLineSettingsIndex).value_or(kDefaultLineSettingsIndex);
    if (const auto name = readFirst(sources, kLanguageKey, toText))
        selectLanguage(languageIndexForName(*name), *name);
}

bool SettingsStore::saveScanSettings()
{
    return writeStoredValues({{kPortKey, m_portNumber},
                              {kLineSettingsIndexKey, m_lineSettingsIndex},
                              {kLineSettingsKey, QString::fromLatin1(m_lineSettings)}});
}

bool SettingsStore::saveLanguage()
{
    return writeStoredValues({{kLanguageKey, m_languageName}});
}

void SettingsStore::selectLanguage(int index, const QString &name)
{
    m_languageIndex = index;
    m_languageName = name;
}

void SettingsStore::rememberPlace(int portNumber, const QByteArray &lineSettings, int lineSettingsIndex)
{
    m_portNumber = portNumber;
    m_lineSettings = lineSettings;
    m_lineSettingsIndex = lineSettingsIndex;
}

void SettingsStore::rememberLineSettings(int lineSettingsIndex)
{
    if (lineSettingsIndex < 0 || lineSettingsIndex >= kLineSettingsCount)
        return;
    m_lineSettingsIndex = lineSettingsIndex;
    m_lineSettings = kLineSettingsTable[lineSettingsIndex];
}
