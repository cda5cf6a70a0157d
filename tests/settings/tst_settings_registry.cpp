#include "settings_sandbox.h"
#include "settings_store.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <string>
#include <optional>

#include <windows.h>

namespace {

const wchar_t kSubKey[] = L"Software\\KAVOR\\ModuleBench";
// Where a 64-bit program sees the 32-bit view's key.
const wchar_t kRedirectedSubKey[] = L"Software\\Wow6432Node\\KAVOR\\ModuleBench";
// Where Windows keeps a standard user's own copy of the 32-bit program's machine key.
const wchar_t kUserCopySubKey[] = L"Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KAVOR\\ModuleBench";

struct RegistryValue {
    DWORD type = REG_NONE;
    QByteArray data;
};

bool keyExists(const wchar_t *subKey, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::optional<RegistryValue> readValue(const wchar_t *name, const wchar_t *subKey = kSubKey,
                                       REGSAM view = KEY_WOW64_32KEY, HKEY root = HKEY_LOCAL_MACHINE)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.data.resize(int(size));
        status = ::RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE *>(value.data.data()), &size);
    }
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void writeRaw(const wchar_t *name, DWORD type, const void *data, DWORD size, REGSAM view = KEY_WOW64_32KEY,
              HKEY root = HKEY_LOCAL_MACHINE, const wchar_t *subKey = kSubKey)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr),
             LSTATUS(ERROR_SUCCESS));
    QCOMPARE(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size), LSTATUS(ERROR_SUCCESS));
    ::RegCloseKey(key);
}

void writeDword(const wchar_t *name, DWORD number, REGSAM view = KEY_WOW64_32KEY)
{
    writeRaw(name, REG_DWORD, &number, sizeof number, view);
}

void writeString(const wchar_t *name, const std::wstring &text, REGSAM view = KEY_WOW64_32KEY)
{
    writeRaw(name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)), view);
}

// The standard user's copy, as Windows writes it for the 32-bit program.
void writeUserCopyDword(const wchar_t *name, DWORD number)
{
    writeRaw(name, REG_DWORD, &number, sizeof number, KEY_WOW64_64KEY, HKEY_CURRENT_USER, kUserCopySubKey);
}

void writeUserCopyString(const wchar_t *name, const std::wstring &text)
{
    writeRaw(name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)), KEY_WOW64_64KEY,
             HKEY_CURRENT_USER, kUserCopySubKey);
}

std::optional<RegistryValue> readUserCopy(const wchar_t *name)
{
    return readValue(name, kUserCopySubKey, KEY_WOW64_64KEY, HKEY_CURRENT_USER);
}

// What a standard user meets: the machine key may be read but not written. Wine runs every program as an
// administrator, and a key's access list does not stop one there; the store's variable stands in for the
// refusal (a standard user's write of the machine key fails before any value is set).
class StandardUserRights {
public:
    StandardUserRights() { qputenv("MB_REGISTRY_AS_STANDARD_USER", "1"); }
    ~StandardUserRights() { qunsetenv("MB_REGISTRY_AS_STANDARD_USER"); }
    StandardUserRights(const StandardUserRights &) = delete;
    StandardUserRights &operator=(const StandardUserRights &) = delete;
};

DWORD asDword(const std::optional<RegistryValue> &value)
{
    DWORD number = 0xFFFFFFFF;
    if (value && value->data.size() == int(sizeof number))
        std::memcpy(&number, value->data.constData(), sizeof number);
    return number;
}

QString asString(const std::optional<RegistryValue> &value)
{
    if (!value)
        return {};
    return QString::fromWCharArray(reinterpret_cast<const wchar_t *>(value->data.constData()),
                                   int(value->data.size() / sizeof(wchar_t)))
        .section(QChar(u'\0'), 0, 0);
}

SettingsStore loaded()
{
    SettingsStore store;
    store.loadSettings();
    return store;
}

} // namespace

// The store against the registry of the machine it runs on (under wine: the private prefix's),
// with the key emptied for each case and put back afterwards.
class TestSettingsRegistry : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_sandbox = std::make_unique<SettingsSandbox>();
        QVERIFY(m_sandbox->isValid());
    }
    void cleanup() { m_sandbox.reset(); }

    void firstRunLeavesTheKeyMissing()
    {
        SettingsStore store;
        store.rememberPlace(4, store.lineSettings(), store.lineSettingsIndex());
        store.selectLanguage(1, QStringLiteral("ChineseGB"));
        store.loadSettings();
        QCOMPARE(store.portNumber(), 0);
        QCOMPARE(store.lineSettings(), QByteArray("19200,e,8,1"));
        QCOMPARE(store.lineSettingsIndex(), 5);
        QCOMPARE(store.languageName(), QStringLiteral("English"));
        QCOMPARE(store.languageIndex(), 0);
        QVERIFY(!keyExists(kSubKey, KEY_WOW64_32KEY));
    }

    void languageAlone()
    {
        writeString(L"LanguageFlag", L"ChineseBIG5");
        const SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 0);
        QCOMPARE(store.lineSettings(), QByteArray("19200,e,8,1"));
        QCOMPARE(store.lineSettingsIndex(), 5);
        QCOMPARE(store.languageIndex(), 2);
    }

    void valuesOfTheirRegistryTypes()
    {
        writeDword(L"ScanCommNo", 16);
        writeDword(L"ScanBaudRateNo", 8);
        writeString(L"ScanBaudRate", L"57600,n,8,1");
        writeString(L"LanguageFlag", L"ChineseGB");
        const SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 16);
        QCOMPARE(store.lineSettingsIndex(), 8);
        QCOMPARE(store.lineSettings(), QByteArray("57600,n,8,1"));
        QCOMPARE(store.languageName(), QStringLiteral("ChineseGB"));
        QCOMPARE(store.languageIndex(), 1);
    }

    void disagreeingPairKept()
    {
        writeDword(L"ScanBaudRateNo", 0);
        writeString(L"ScanBaudRate", L"115200,e,8,1");
        const SettingsStore store = loaded();
        QCOMPARE(store.lineSettingsIndex(), 0);
        QCOMPARE(store.lineSettings(), QByteArray("115200,e,8,1"));
    }

    void valuesOfTheWrongTypeCountAsMissing()
    {
        writeString(L"ScanCommNo", L"12abc");
        const DWORD binary = 3;
        writeRaw(L"ScanBaudRateNo", REG_BINARY, &binary, sizeof binary);
        writeDword(L"LanguageFlag", 2);
        writeDword(L"ScanBaudRate", 9600);
        const SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 0);
        QCOMPARE(store.lineSettingsIndex(), 5);
        QCOMPARE(store.lineSettings(), QByteArray("19200,e,8,1"));
        QCOMPARE(store.languageIndex(), 0);
    }

    void indexOutsideTheTableGivesTheDefault()
    {
        writeDword(L"ScanBaudRateNo", 12);
        QCOMPARE(loaded().lineSettingsIndex(), 5);
        writeDword(L"ScanBaudRateNo", 0xFFFFFFFF);
        QCOMPARE(loaded().lineSettingsIndex(), 5);
    }

    // A 64-bit build shares the 32-bit program's key: Software\Wow6432Node to 64-bit eyes.
    void scanValuesGoToThe32BitView()
    {
        SettingsStore store = loaded();
        store.rememberPlace(3, "57600,e,8,1", 9);
        store.saveScanSettings();

        const auto port = readValue(L"ScanCommNo");
        QVERIFY(port);
        QCOMPARE(port->type, DWORD(REG_DWORD));
        QCOMPARE(asDword(port), DWORD(3));
        const auto index = readValue(L"ScanBaudRateNo");
        QVERIFY(index);
        QCOMPARE(index->type, DWORD(REG_DWORD));
        QCOMPARE(asDword(index), DWORD(9));
        const auto text = readValue(L"ScanBaudRate");
        QVERIFY(text);
        QCOMPARE(text->type, DWORD(REG_SZ));
        QCOMPARE(asString(text), QStringLiteral("57600,e,8,1"));
        QVERIFY(!readValue(L"LanguageFlag"));

        QCOMPARE(asDword(readValue(L"ScanCommNo", kRedirectedSubKey, KEY_WOW64_64KEY)), DWORD(3));
        QVERIFY(!keyExists(kSubKey, KEY_WOW64_64KEY));

        const SettingsStore fresh = loaded();
        QCOMPARE(fresh.portNumber(), 3);
        QCOMPARE(fresh.lineSettingsIndex(), 9);
        QCOMPARE(fresh.lineSettings(), QByteArray("57600,e,8,1"));
    }

    void languageSavedAlone()
    {
        writeDword(L"ScanCommNo", 4);
        SettingsStore store = loaded();
        store.rememberPlace(9, store.lineSettings(), store.lineSettingsIndex());
        store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
        store.saveLanguage();
        const auto language = readValue(L"LanguageFlag");
        QVERIFY(language);
        QCOMPARE(language->type, DWORD(REG_SZ));
        QCOMPARE(asString(language), QStringLiteral("ChineseBIG5"));
        QCOMPARE(asDword(readValue(L"ScanCommNo")), DWORD(4));
        QCOMPARE(loaded().languageIndex(), 2);
    }

    // A standard user may not write the machine key: what they save goes to their own copy, and is read from
    // there first; the machine key's presets serve for the rest.
    void standardUserSavesIntoTheirOwnCopy()
    {
        writeString(L"LanguageFlag", L"ChineseGB");
        writeDword(L"ScanCommNo", 16);
        {
            const StandardUserRights standardUser;
            SettingsStore store = loaded();
            QCOMPARE(store.portNumber(), 16);
            store.rememberPlace(3, "57600,e,8,1", 9);
            store.saveScanSettings();

            const auto port = readUserCopy(L"ScanCommNo");
            QVERIFY(port);
            QCOMPARE(port->type, DWORD(REG_DWORD));
            QCOMPARE(asDword(port), DWORD(3));
            QCOMPARE(asDword(readUserCopy(L"ScanBaudRateNo")), DWORD(9));
            QCOMPARE(asString(readUserCopy(L"ScanBaudRate")), QStringLiteral("57600,e,8,1"));
            QVERIFY(!readUserCopy(L"LanguageFlag"));
            QCOMPARE(asDword(readValue(L"ScanCommNo")), DWORD(16));

            const SettingsStore fresh = loaded();
            QCOMPARE(fresh.portNumber(), 3);
            QCOMPARE(fresh.lineSettingsIndex(), 9);
            QCOMPARE(fresh.lineSettings(), QByteArray("57600,e,8,1"));
            QCOMPARE(fresh.languageName(), QStringLiteral("ChineseGB"));

            store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
            store.saveLanguage();
            QCOMPARE(asString(readUserCopy(L"LanguageFlag")), QStringLiteral("ChineseBIG5"));
            QCOMPARE(asString(readValue(L"LanguageFlag")), QStringLiteral("ChineseGB"));
            QCOMPARE(loaded().languageIndex(), 2);
        }
        // An administrator's save still goes to the machine key, and leaves the user's copy alone.
        SettingsStore admin = loaded();
        admin.selectLanguage(0, QStringLiteral("English"));
        admin.saveLanguage();
        QCOMPARE(asString(readValue(L"LanguageFlag")), QStringLiteral("English"));
        QCOMPARE(asString(readUserCopy(L"LanguageFlag")), QStringLiteral("ChineseBIG5"));
    }

    // What a 32-bit build saved for a standard user (Windows put it in the user's copy) is found by a process
    // of that user, and wins over the machine key, as in Windows' own merge.
    void userCopyComesFirstForAStandardUser()
    {
        writeDword(L"ScanCommNo", 16);
        writeDword(L"ScanBaudRateNo", 8);
        writeString(L"ScanBaudRate", L"57600,n,8,1");
        writeString(L"LanguageFlag", L"ChineseGB");
        writeUserCopyDword(L"ScanCommNo", 5);
        writeUserCopyString(L"LanguageFlag", L"ChineseBIG5");
        const StandardUserRights standardUser;
        const SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 5);
        QCOMPARE(store.languageIndex(), 2);
        QCOMPARE(store.lineSettingsIndex(), 8);
        QCOMPARE(store.lineSettings(), QByteArray("57600,n,8,1"));
    }

    // A process that may write the machine key sees the machine key alone: a copy left from a standard
    // user's run hides nothing an administrator stored since, and is neither read nor written.
    void staleUserCopyIgnoredWhereTheMachineKeyIsWritable()
    {
        writeDword(L"ScanCommNo", 5);
        writeUserCopyDword(L"ScanCommNo", 3);
        writeUserCopyString(L"LanguageFlag", L"ChineseBIG5");
        SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 5);
        QCOMPARE(store.languageIndex(), 0);

        store.rememberPlace(7, store.lineSettings(), store.lineSettingsIndex());
        store.saveScanSettings();
        QCOMPARE(asDword(readValue(L"ScanCommNo")), DWORD(7));
        QCOMPARE(asDword(readUserCopy(L"ScanCommNo")), DWORD(3));
        QCOMPARE(loaded().portNumber(), 7);
    }

    void the64BitViewIsNotRead()
    {
        writeDword(L"ScanCommNo", 7, KEY_WOW64_64KEY);
        writeString(L"LanguageFlag", L"ChineseGB", KEY_WOW64_64KEY);
        const SettingsStore store = loaded();
        QCOMPARE(store.portNumber(), 0);
        QCOMPARE(store.languageIndex(), 0);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSubKey, KEY_WOW64_64KEY, 0);
    }

private:
    std::unique_ptr<SettingsSandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestSettingsRegistry)
#include "tst_settings_registry.moc"
