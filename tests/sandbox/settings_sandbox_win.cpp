#include "settings_sandbox.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

#include <windows.h>

namespace {

const wchar_t kSubKey[] = L"Software\\KAVOR\\ModuleBench";
// The store's own view: the 32-bit one.
constexpr REGSAM kView = KEY_WOW64_32KEY;

struct Value {
    std::wstring name;
    DWORD type = 0;
    QByteArray data;
};

std::vector<Value> readValues()
{
    std::vector<Value> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_READ | kView, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        Value value{std::wstring(name, nameLength), type, QByteArray(int(size), '\0')};
        nameLength = 256;
        ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE *>(value.data.data()), &size);
        values.push_back(std::move(value));
    }
    ::RegCloseKey(key);
    return values;
}

void deleteKey()
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSubKey, kView, 0);
}

} // namespace

struct SettingsSandbox::Private {
    std::vector<Value> found;
    bool keyFound = false;
    bool keep = false;
};

SettingsSandbox::SettingsSandbox() : d(std::make_unique<Private>())
{
    HKEY key = nullptr;
    d->keyFound = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_READ | kView, &key) == ERROR_SUCCESS;
    if (d->keyFound)
        ::RegCloseKey(key);
    d->found = readValues();
    deleteKey();
}

SettingsSandbox::~SettingsSandbox()
{
    if (d->keep)
        return;
    deleteKey();
    if (!d->keyFound)
        return;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_WRITE | kView, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    for (const Value &value : d->found)
        ::RegSetValueExW(key, value.name.c_str(), 0, value.type,
                         reinterpret_cast<const BYTE *>(value.data.constData()), DWORD(value.data.size()));
    ::RegCloseKey(key);
}

bool SettingsSandbox::isValid() const
{
    HKEY key = nullptr;
    // Emptied: the key must be gone, or the store would read what was there.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubKey, 0, KEY_READ | kView, &key) == ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return false;
    }
    return true;
}

QStringList SettingsSandbox::written() const
{
    QStringList names;
    for (const Value &value : readValues())
        names << QString::fromStdWString(value.name);
    return names;
}

void SettingsSandbox::keepWhatWasWritten()
{
    d->keep = true;
}
