#include "settings_location.h"

#include <QSettings>
#include <QStringList>

#include <string>

#include <windows.h>

// The store is the machine key HKLM\Software\KAVOR\ModuleBench in the 32-bit view (Wow6432Node to 64-bit
// eyes), the key the 32-bit program has always used. A standard user may not write there: Windows gave that
// 32-bit program the user's own copy of the key instead (registry virtualisation), under
// HKCU\Software\Classes\VirtualStore, and merged that copy over the machine key when it read. Windows did so
// only for a process that may not write the machine key: an administrator's (elevated) process saw and wrote
// the machine key alone, so a copy left from a standard user's run never hid what an administrator stored
// later. This 64-bit program gets no such help, so it keeps the same rule itself.

namespace {

struct Place {
    HKEY root;
    const wchar_t *subKey;
    REGSAM view;
    const char *qtPath;
    QSettings::Format qtFormat;
};

// The 32-bit view of the machine key.
const Place kMachineKey{HKEY_LOCAL_MACHINE, L"Software\\KAVOR\\ModuleBench", KEY_WOW64_32KEY,
                        "HKEY_LOCAL_MACHINE\\Software\\KAVOR\\ModuleBench", QSettings::Registry32Format};
// Where Windows keeps a standard user's writes of a 32-bit program to the machine key; the path names the
// 32-bit view itself, so it is read as it stands (the 64-bit view).
const Place kUserCopy{HKEY_CURRENT_USER,
                      L"Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KAVOR\\ModuleBench",
                      KEY_WOW64_64KEY,
                      "HKEY_CURRENT_USER\\Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KAVOR\\"
                      "ModuleBench",
                      QSettings::Registry64Format};

// QSettings creates its key on the first read where it may; reading must leave a missing key missing.
bool keyExists(const Place &place)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(place.root, place.subKey, 0, KEY_READ | place.view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

void readInto(std::vector<QVariantMap> &sources, const Place &place)
{
    if (!keyExists(place))
        return;
    const QSettings key(QString::fromLatin1(place.qtPath), place.qtFormat);
    if (key.status() != QSettings::NoError)
        return;
    QVariantMap values;
    const QStringList names = key.childKeys();
    for (const QString &name : names)
        values.insert(name, key.value(name));
    sources.push_back(values);
}

// Numbers as REG_DWORD, everything else as REG_SZ: the types the 32-bit program wrote.
bool writeValue(HKEY key, const QString &name, const QVariant &value)
{
    const auto *valueName = reinterpret_cast<const wchar_t *>(name.utf16());
    if (value.typeId() == QMetaType::Int) {
        const DWORD number = DWORD(value.toInt());
        return ::RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                                sizeof number)
               == ERROR_SUCCESS;
    }
    const QString text = value.toString();
    return ::RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.utf16()),
                            DWORD((text.size() + 1) * sizeof(char16_t)))
           == ERROR_SUCCESS;
}

// Wine runs every program as an administrator and lets it write any key: its tests stand in for a standard
// user with this variable.
bool simulatingStandardUser()
{
    return qEnvironmentVariableIsSet("MB_REGISTRY_AS_STANDARD_USER");
}

// Whether this process may set values in the machine key, asked without creating it: the key itself where it
// exists, else the nearest of its parents that does, for the right to create a key under it. A standard user,
// and an administrator's process that is not elevated, get ERROR_ACCESS_DENIED.
bool mayWriteMachineKey()
{
    if (simulatingStandardUser())
        return false;
    std::wstring path = kMachineKey.subKey;
    REGSAM access = KEY_SET_VALUE;
    for (;;) {
        HKEY key = nullptr;
        const LSTATUS status = ::RegOpenKeyExW(kMachineKey.root, path.c_str(), 0, access | kMachineKey.view, &key);
        if (status == ERROR_SUCCESS) {
            ::RegCloseKey(key);
            return true;
        }
        const auto slash = path.rfind(L'\\');
        if (status != ERROR_FILE_NOT_FOUND || slash == std::wstring::npos)
            return false;
        path.resize(slash);
        access = KEY_CREATE_SUB_KEY;
    }
}

// False when the key cannot be opened for writing or refuses a value.
bool writeInto(const Place &place, const StoredValues &values)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(place.root, place.subKey, 0, nullptr, 0, KEY_SET_VALUE | place.view, nullptr, &key,
                          nullptr)
        != ERROR_SUCCESS)
        return false;
    bool written = true;
    for (const auto &[name, value] : values)
        written = writeValue(key, name, value) && written;
    ::RegCloseKey(key);
    return written;
}

} // namespace

std::vector<QVariantMap> readStoredValues()
{
    std::vector<QVariantMap> sources;
    if (!mayWriteMachineKey())
        readInto(sources, kUserCopy);
    readInto(sources, kMachineKey);
    return sources;
}

bool writeStoredValues(const StoredValues &values)
{
    // False when the one place this process writes refuses: the values in memory serve on.
    return writeInto(mayWriteMachineKey() ? kMachineKey : kUserCopy, values);
}
