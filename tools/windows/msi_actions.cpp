// The MSI package's own custom action (tools/windows/modulebench.wxs runs it once the folders are known, before
// anything is written): a folder that already holds a file of one of the package's names, which no earlier
// ModuleBench put there, is refused. Installing would overwrite that other program's file, and uninstalling would
// delete it. The folder of the installed copy (the one an upgrade goes into) holds that copy's own files, which go
// with it before the new ones are written.
//
// A DLL of its own, loaded by Windows Installer: system DLLs only, the compiler's runtime linked in.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

// An MSI handle closed when it goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(MSIHANDLE handle) : m_handle(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle()
    {
        if (m_handle)
            ::MsiCloseHandle(m_handle);
    }
    MSIHANDLE *out() { return &m_handle; }
    operator MSIHANDLE() const { return m_handle; }

private:
    MSIHANDLE m_handle = 0;
};

// A property, a record's string or a folder's target path: each call asks how long it is first.
template <class Read> std::wstring readString(Read read)
{
    wchar_t empty[1] = L"";
    DWORD length = 0;
    if (read(empty, &length) != ERROR_MORE_DATA)
        return {};
    std::wstring text(length + 1, L'\0');
    length = DWORD(text.size());
    if (read(&text[0], &length) != ERROR_SUCCESS)
        return {};
    text.resize(length);
    return text;
}

std::wstring property(MSIHANDLE install, const wchar_t *name)
{
    return readString([&](wchar_t *buffer, DWORD *length) { return ::MsiGetPropertyW(install, name, buffer, length); });
}

std::wstring targetPath(MSIHANDLE install, const std::wstring &folder)
{
    return readString(
        [&](wchar_t *buffer, DWORD *length) { return ::MsiGetTargetPathW(install, folder.c_str(), buffer, length); });
}

std::wstring field(MSIHANDLE record, unsigned int index)
{
    return readString(
        [&](wchar_t *buffer, DWORD *length) { return ::MsiRecordGetStringW(record, index, buffer, length); });
}

// "C:\Tools\ModuleBench\" and "c:\tools\modulebench" name the same folder.
std::wstring folderKey(std::wstring path)
{
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    for (wchar_t &c : path) {
        if (c == L'/')
            c = L'\\';
    }
    if (!path.empty())
        ::CharUpperBuffW(&path[0], DWORD(path.size()));
    return path;
}

// The File table's name is "SHORT~1.DLL|Long name.dll", or the long name alone.
std::wstring longName(const std::wstring &fileName)
{
    const size_t bar = fileName.find(L'|');
    return bar == std::wstring::npos ? fileName : fileName.substr(bar + 1);
}

bool exists(const std::wstring &path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The message in the log, and in a message box where the installation shows one.
void say(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring &text)
{
    Handle record(::MsiCreateRecord(1));
    // The text as the record's one field: "[1]" keeps brackets in a folder's name from being read as properties.
    ::MsiRecordSetStringW(record, 0, L"[1]");
    ::MsiRecordSetStringW(record, 1, text.c_str());
    ::MsiProcessMessage(install, kind, record);
}

// The package's files that are in their places already, named from the folder on ("sqldrivers\qsqlite.dll"), in
// the order of the package's file table. False when the table could not be read.
bool presentFiles(MSIHANDLE install, const std::wstring &folder, std::vector<std::wstring> &present)
{
    Handle database(::MsiGetActiveDatabase(install));
    Handle view;
    if (::MsiDatabaseOpenViewW(database,
                               L"SELECT `File`.`FileName`, `Component`.`Directory_` FROM `File`, `Component` "
                               L"WHERE `File`.`Component_` = `Component`.`Component`",
                               view.out())
            != ERROR_SUCCESS
        || ::MsiViewExecute(view, 0) != ERROR_SUCCESS)
        return false;
    const std::wstring under = folderKey(folder) + L'\\';
    for (;;) {
        Handle row;
        if (::MsiViewFetch(view, row.out()) != ERROR_SUCCESS)
            break;
        const std::wstring path = targetPath(install, field(row, 2)) + longName(field(row, 1));
        if (!exists(path))
            continue;
        const std::wstring key = folderKey(path);
        present.push_back(key.compare(0, under.size(), under) == 0 ? path.substr(under.size()) : path);
    }
    return true;
}

// "Qt6Core.dll, LICENSE.txt and 3 more".
std::wstring listed(const std::vector<std::wstring> &names)
{
    constexpr size_t kShown = 4;
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < kShown; ++i)
        text += (i > 0 ? L", " : L"") + names[i];
    if (names.size() > kShown)
        text += L" and " + std::to_wstring(names.size() - kShown) + L" more";
    return text;
}

} // namespace

// Immediate, after CostFinalize, on a first installation only (NOT Installed): an uninstall, a repair or the
// older version's removal in an upgrade never call it.
extern "C" __declspec(dllexport) UINT __stdcall RefuseForeignFiles(MSIHANDLE install)
{
    std::wstring folder = targetPath(install, L"INSTALLDIR");
    if (folder.empty())
        return ERROR_SUCCESS;
    if (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    // The installed copy's folder, from the registry (the package's search for it sets the property): its files
    // are its own, and the upgrade removes them first.
    const std::wstring installed = property(install, L"INSTALLEDFOLDER");
    if (!installed.empty() && folderKey(installed) == folderKey(folder)) {
        say(install, INSTALLMESSAGE_INFO, L"ModuleBench: " + folder + L" holds the installed copy, which is replaced.");
        return ERROR_SUCCESS;
    }
    std::vector<std::wstring> present;
    if (!presentFiles(install, folder, present)) {
        say(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
            L"ModuleBench: the package's list of files could not be read, so " + folder
                + L" could not be checked for other programs' files of the same names. Nothing was installed.");
        return ERROR_INSTALL_FAILURE;
    }
    if (present.empty())
        return ERROR_SUCCESS;
    say(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
        folder + L" already holds " + listed(present)
            + L", which ModuleBench did not install. Installing there would overwrite another program's files, "
              L"and uninstalling would delete them: choose another folder (INSTALLDIR). Nothing was installed.");
    return ERROR_INSTALL_FAILURE;
}
