#include "settings_sandbox.h"

#include <QByteArray>
#include <QString>

#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

namespace {

struct Place {
    HKEY root;
    const wchar_t *subKey;
    REGSAM view;
};

// The store's places: the machine key in its 32-bit view, and the user's copy of it that Windows keeps
// for a standard user (read first).
const Place kPlaces[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\KAVOR\\ModuleBench", KEY_WOW64_32KEY},
    {HKEY_CURRENT_USER, L"Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KAVOR\\ModuleBench",
     KEY_WOW64_64KEY},
};

struct Value {
    std::wstring name;
    DWORD type = 0;
    QByteArray data;
};

bool keyExists(const Place &place)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(place.root, place.subKey, 0, KEY_READ | place.view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::vector<Value> readValues(const Place &place)
{
    std::vector<Value> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(place.root, place.subKey, 0, KEY_READ | place.view, &key) != ERROR_SUCCESS)
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

void deleteKey(const Place &place)
{
    ::RegDeleteKeyExW(place.root, place.subKey, place.view, 0);
}

struct Found {
    bool keyFound = false;
    std::vector<Value> values;
};

} // namespace

struct SettingsSandbox::Private {
    Found found[std::size(kPlaces)];
    bool keep = false;
};

SettingsSandbox::SettingsSandbox() : d(std::make_unique<Private>())
{
    for (size_t i = 0; i < std::size(kPlaces); ++i) {
        d->found[i].keyFound = keyExists(kPlaces[i]);
        d->found[i].values = readValues(kPlaces[i]);
        deleteKey(kPlaces[i]);
    }
}

SettingsSandbox::~SettingsSandbox()
{
    if (d->keep)
        return;
    for (size_t i = 0; i < std::size(kPlaces); ++i) {
        const Place &place = kPlaces[i];
        deleteKey(place);
        if (!d->found[i].keyFound)
            continue;
        HKEY key = nullptr;
        if (::RegCreateKeyExW(place.root, place.subKey, 0, nullptr, 0, KEY_WRITE | place.view, nullptr, &key,
                              nullptr)
            != ERROR_SUCCESS)
            continue;
        for (const Value &value : d->found[i].values)
            ::RegSetValueExW(key, value.name.c_str(), 0, value.type,
                             reinterpret_cast<const BYTE *>(value.data.constData()), DWORD(value.data.size()));
        ::RegCloseKey(key);
    }
}

bool SettingsSandbox::isValid() const
{
    // Emptied: the keys must be gone, or the store would read what was there.
    for (const Place &place : kPlaces) {
        if (keyExists(place))
            return false;
    }
    return true;
}

QStringList SettingsSandbox::written() const
{
    QStringList names;
    for (const Place &place : kPlaces) {
        for (const Value &value : readValues(place))
            names << QString::fromStdWString(value.name);
    }
    return names;
}

void SettingsSandbox::keepWhatWasWritten()
{
    d->keep = true;
}
