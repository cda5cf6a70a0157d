#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kStorePath = QStringLiteral("/KAVOR/ModuleBench.conf");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SettingsStore loaded()
{
    SettingsStore store;
    store.loadSettings();
    return store;
}

void verifyDefaults(const SettingsStore &store)
{
    QCOMPARE(store.portNumber, 0);
    QCOMPARE(store.lineSettings, QByteArray("19200,e,8,1"));
    QCOMPARE(store.lineSettingsIndex, 5);
    QCOMPARE(store.languageName, QStringLiteral("English"));
    QCOMPARE(store.languageIndex, 0);
}

} // namespace

// Every case gets its own user folder and administrator folders, so nothing outside is read or written.
class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstRun();
    void languageAlone();
    void storedValues_data();
    void storedValues();
    void scanValuesWrittenTogether();
    void savesKeepWhatTheyDoNotWrite();
    void administratorPresets();
    void environmentReadAtEachUse();
    void homeFolderWhenNoConfigHome();
    void unwritableStore_data();
    void unwritableStore();
    void damagedFile();

private:
    QString userFile() const { return m_dir->path() + QStringLiteral("/home") + kStorePath; }
    QString presetFile(int n) const { return m_dir->path() + QStringLiteral("/etc%1").arg(n) + kStorePath; }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir->path() + QStringLiteral("/etc1:") + m_dir->path() + QStringLiteral("/etc2")));
}

void TestSettingsStore::cleanup()
{
    m_dir.reset();
}

void TestSettingsStore::firstRun()
{
    SettingsStore store;
    store.portNumber = 7;
    store.lineSettings = "4800,n,8,1";
    store.lineSettingsIndex = 0;
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.moduleFound = true;
    store.loadSettings();
    verifyDefaults(store);
    // Whether the module was found belongs to the run, not to the store.
    QVERIFY(store.moduleFound);
    QVERIFY(!QFileInfo::exists(userFile()));
}

void TestSettingsStore::languageAlone()
{
    writeFile(userFile(), "[General]\nLanguageFlag=ChineseBIG5\n");
    const SettingsStore store = loaded();
    QCOMPARE(store.portNumber, 0);
    QCOMPARE(store.lineSettings, QByteArray("19200,e,8,1"));
    QCOMPARE(store.lineSettingsIndex, 5);
    QCOMPARE(store.languageName, QStringLiteral("ChineseBIG5"));
    QCOMPARE(store.languageIndex, 2);
}

void TestSettingsStore::storedValues_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("lineSettings");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("languageIndex");

    QTest::newRow("as written")
        << QByteArray("ScanCommNo=3\nScanBaudRateNo=8\nScanBaudRate=\"57600,n,8,1\"\nLanguageFlag=ChineseGB\n")
        << 3 << QByteArray("57600,n,8,1") << 8 << "ChineseGB" << 1;
    QTest::newRow("wrong types")
        << QByteArray("ScanCommNo=12abc\nScanBaudRateNo=five\nScanBaudRate=@ByteArray(9600,n,8,1)\n"
                      "LanguageFlag=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n")
        << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("number as a fraction") << QByteArray("ScanCommNo=2.5\nScanBaudRateNo=1e1\n")
                                          << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("number too large") << QByteArray("ScanCommNo=4294967299\n")
                                      << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("empty values") << QByteArray("ScanCommNo=\nScanBaudRateNo=\n")
                                  << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("split at its commas") << QByteArray("ScanBaudRate=9600,n,8,1\nScanBaudRateNo=2\n")
                                         << 0 << QByteArray("9600,n,8,1") << 2 << "English" << 0;
    QTest::newRow("index below the table") << QByteArray("ScanBaudRateNo=-1\n")
                                           << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("index past the table") << QByteArray("ScanBaudRateNo=12\n")
                                          << 0 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("first index, COM16") << QByteArray("ScanBaudRateNo=0\nScanCommNo=16\n")
                                          << 16 << QByteArray("19200,e,8,1") << 0 << "English" << 0;
    QTest::newRow("last index") << QByteArray("ScanBaudRateNo=11\n")
                                << 0 << QByteArray("19200,e,8,1") << 11 << "English" << 0;
    // The scan decides what to do with a port outside COM1..COM16.
    QTest::newRow("negative port") << QByteArray("ScanCommNo=-3\n")
                                   << -3 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("port past COM16") << QByteArray("ScanCommNo=17\n")
                                     << 17 << QByteArray("19200,e,8,1") << 5 << "English" << 0;
    QTest::newRow("disagreeing pair kept") << QByteArray("ScanBaudRate=\"115200,e,8,1\"\nScanBaudRateNo=0\n")
                                           << 0 << QByteArray("115200,e,8,1") << 0 << "English" << 0;
    QTest::newRow("language name in the wrong case") << QByteArray("LanguageFlag=chinesegb\n")
                                                     << 0 << QByteArray("19200,e,8,1") << 5 << "chinesegb" << 0;
}

void TestSettingsStore::storedValues()
{
    QFETCH(QByteArray, file);
    QFETCH(int, port);
    QFETCH(QByteArray, lineSettings);
    QFETCH(int, index);
    QFETCH(QString, language);
    QFETCH(int, languageIndex);

    writeFile(userFile(), "[General]\n" + file);
    const SettingsStore store = loaded();
    QCOMPARE(store.portNumber, port);
    QCOMPARE(store.lineSettings, lineSettings);
    QCOMPARE(store.lineSettingsIndex, index);
    QCOMPARE(store.languageName, language);
    QCOMPARE(store.languageIndex, languageIndex);
}

void TestSettingsStore::scanValuesWrittenTogether()
{
    SettingsStore store = loaded();
    store.portNumber = 12;
    store.lineSettings = "57600,o,8,1";
    store.lineSettingsIndex = 9;
    store.saveScanSettings();

    const QByteArray written = readFile(userFile());
    QVERIFY(written.contains("ScanCommNo=12\n"));
    QVERIFY(written.contains("ScanBaudRateNo=9\n"));
    QVERIFY(written.contains("ScanBaudRate=\"57600,o,8,1\"\n"));
    QVERIFY(!written.contains("LanguageFlag"));

    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber, 12);
    QCOMPARE(fresh.lineSettings, QByteArray("57600,o,8,1"));
    QCOMPARE(fresh.lineSettingsIndex, 9);
    QCOMPARE(fresh.languageName, QStringLiteral("English"));
}

void TestSettingsStore::savesKeepWhatTheyDoNotWrite()
{
    writeFile(userFile(), "[General]\nScanCommNo=4\nScanBaudRateNo=3\nScanBaudRate=\"9600,e,8,1\"\n");
    SettingsStore store = loaded();
    // Changed in memory only: saving the language must not write these.
    store.portNumber = 9;
    store.lineSettings = "4800,n,8,1";
    store.lineSettingsIndex = 0;
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveLanguage();

    SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber, 4);
    QCOMPARE(fresh.lineSettings, QByteArray("9600,e,8,1"));
    QCOMPARE(fresh.lineSettingsIndex, 3);
    QCOMPARE(fresh.languageName, QStringLiteral("ChineseBIG5"));
    QCOMPARE(fresh.languageIndex, 2);

    fresh.selectLanguage(1, QStringLiteral("ChineseGB"));
    fresh.portNumber = 2;
    fresh.saveScanSettings();
    const SettingsStore after = loaded();
    QCOMPARE(after.portNumber, 2);
    QCOMPARE(after.languageName, QStringLiteral("ChineseBIG5"));
}

void TestSettingsStore::administratorPresets()
{
    writeFile(presetFile(1), "[General]\nScanCommNo=6\nScanBaudRateNo=twelve\n");
    writeFile(presetFile(2), "[General]\nScanCommNo=4\nScanBaudRate=\"9600,n,8,1\"\nScanBaudRateNo=2\n"
                             "LanguageFlag=ChineseGB\n");
    writeFile(userFile(), "[General]\nLanguageFlag=English\n");

    // The user's file first, then the folders in their listed order; an unusable value is skipped.
    SettingsStore store = loaded();
    QCOMPARE(store.portNumber, 6);
    QCOMPARE(store.lineSettings, QByteArray("9600,n,8,1"));
    QCOMPARE(store.lineSettingsIndex, 2);
    QCOMPARE(store.languageName, QStringLiteral("English"));

    store.portNumber = 11;
    store.lineSettingsIndex = 7;
    store.lineSettings = "38400,e,8,1";
    store.saveScanSettings();
    const SettingsStore after = loaded();
    QCOMPARE(after.portNumber, 11);
    QCOMPARE(after.lineSettings, QByteArray("38400,e,8,1"));
    QCOMPARE(after.lineSettingsIndex, 7);
    // The presets are read, never written.
    QVERIFY(readFile(presetFile(1)).contains("ScanCommNo=6\n"));
    QVERIFY(!readFile(presetFile(2)).contains("38400"));
}

void TestSettingsStore::environmentReadAtEachUse()
{
    SettingsStore store = loaded();
    store.portNumber = 5;
    store.saveScanSettings();

    const QByteArray firstHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + QStringLiteral("/other")));
    QCOMPARE(loaded().portNumber, 0);
    store.portNumber = 8;
    store.saveScanSettings();
    QCOMPARE(loaded().portNumber, 8);

    qputenv("XDG_CONFIG_HOME", firstHome);
    QCOMPARE(loaded().portNumber, 5);
}

void TestSettingsStore::homeFolderWhenNoConfigHome()
{
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_dir->path() + QStringLiteral("/user")));
    qunsetenv("XDG_CONFIG_HOME");
    SettingsStore store = loaded();
    store.selectLanguage(1, QStringLiteral("ChineseGB"));
    store.saveLanguage();
    const bool written = QFileInfo::exists(m_dir->path() + QStringLiteral("/user/.config") + kStorePath);
    const int reloadedIndex = loaded().languageIndex;
    qputenv("HOME", home);
    QVERIFY(written);
    QCOMPARE(reloadedIndex, 1);
}

void TestSettingsStore::unwritableStore_data()
{
    QTest::addColumn<QString>("blocked");
    // Root passes permission bits, but nobody can make a folder where a file stands.
    QTest::newRow("file where the folder belongs") << QStringLiteral("/home/KAVOR");
    QTest::newRow("folder where the file belongs") << QStringLiteral("/home/KAVOR/ModuleBench.conf");
}

void TestSettingsStore::unwritableStore()
{
    QFETCH(QString, blocked);
    const QString blockedPath = m_dir->path() + blocked;
    if (blocked.endsWith(QLatin1String(".conf")))
        QVERIFY(QDir().mkpath(blockedPath));
    else
        writeFile(blockedPath, "not a folder\n");
    writeFile(presetFile(2), "[General]\nScanCommNo=4\n");

    SettingsStore store = loaded();
    QCOMPARE(store.portNumber, 4);
    store.portNumber = 13;
    store.lineSettings = "115200,n,8,1";
    store.lineSettingsIndex = 10;
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveScanSettings();
    store.saveLanguage();

    // Silent, and the values in memory serve on.
    QCOMPARE(store.portNumber, 13);
    QCOMPARE(store.lineSettings, QByteArray("115200,n,8,1"));
    QCOMPARE(store.lineSettingsIndex, 10);
    QCOMPARE(store.languageIndex, 2);

    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber, 4);
    QCOMPARE(fresh.lineSettingsIndex, 5);
    QCOMPARE(fresh.languageName, QStringLiteral("English"));
    QVERIFY(blocked.endsWith(QLatin1String(".conf")) ? QFileInfo(blockedPath).isDir()
                                                     : readFile(blockedPath) == "not a folder\n");
}

void TestSettingsStore::damagedFile()
{
    // A file the reader reports as broken is not trusted for any value, even readable ones.
    writeFile(userFile(), "[General]\nScanCommNo=7\nLanguageFlag=ChineseGB\n[General\n");
    verifyDefaults(loaded());

    // Fixed pseudo-random bytes with NULs, stray brackets, escapes and '=' in them.
    QByteArray garbage;
    quint32 state = 12345;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.append(char(state >> 23));
    }
    garbage.insert(100, "\n[Gen\0eral\n=\\x\n@Variant(\\0\n", 28);
    writeFile(userFile(), garbage);

    SettingsStore store = loaded();
    verifyDefaults(store);

    // Saving over the damage still leaves a store that reads back.
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveLanguage();
    store.portNumber = 3;
    store.saveScanSettings();
    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.languageIndex, 2);
    QCOMPARE(fresh.portNumber, 3);
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
