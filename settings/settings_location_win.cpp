#include "settings_location.h"

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

std::unique_ptr<QSettings> openSettingsForWriting()
{
    return openKey();
}

std::vector<std::unique_ptr<QSettings>> openSettingsForReading()
{
    std::vector<std::unique_ptr<QSettings>> sources;
    if (keyExists())
        sources.push_back(openKey());
    return sources;
}
