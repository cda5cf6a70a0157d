#include "settings_location.h"

#include <QSettings>
#include <QStringList>

#include <memory>

#include <windows.h>

namespace {

const wchar_t kSubKey[] = L"Software\\KAVOR\\ModuleBench";

// The 32-bit view, so a 64-bit build shares the key that the 32-bit program wrote
// (under Wow6432Node on 64-bit Windows).
std::unique_ptr<QSettings> openKey()
{
    return std::make_unique<QSettings>(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\KAVOR\\ModuleBench"),
                                       QSettings::Registry32Format);
}

// QSettings creates its key on the first read where it may; loading must leave a missing key missing.
bool keyExists()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

} // namespace

std::vector<QVariantMap> readStoredValues()
{
    std::vector<QVariantMap> sources;
    if (!keyExists())
        return sources;
    const auto key = openKey();
    if (key->status() != QSettings::NoError)
        return sources;
    QVariantMap values;
    const QStringList names = key->childKeys();
    for (const QString &name : names)
        values.insert(name, key->value(name));
    sources.push_back(values);
    return sources;
}

bool writeStoredValues(const StoredValues &values)
{
    const auto key = openKey();
    for (const auto &[name, value] : values)
        key->setValue(name, value);
    // A key that cannot be written is left as it is; the values in memory serve on.
    key->sync();
    return key->status() == QSettings::NoError;
}
