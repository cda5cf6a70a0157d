#include "settings_store.h"
#include "test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs the action on a thread of its own and fails when it is not done within 2 s. A FIFO it waits on
// is then opened for writing and closed, which ends the wait, so the test ends instead of hanging.
bool finishesInTime(const std::function<void()> &action, const QStringList &fifos)
{
    auto done = std::async(std::launch::async, action);
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready)
        return true;
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        for (const QString &fifo : fifos) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    }
    return false;
}

// @Variant(...) of a list in a list ..., as Qt's settings files hold it, `depth` levels deep.
QByteArray deepVariant(int depth)
{
    return "@Variant(" + QByteArray("\\0\\0\\0\\t\\0\\0\\0\\x1").repeated(depth) + "\\0\\0\\0\\t\\0\\0\\0\\0)";
}

QByteArray sha1(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result().toHex();
}

struct NodeId {
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    dev_t rdev = 0;
    bool operator==(const NodeId &other) const
    {
        return device == other.device && inode == other.inode && mode == other.mode && rdev == other.rdev;
    }
};

NodeId nodeId(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, st.st_mode, st.st_rdev};
}

// Every name under a folder, links not followed.
QStringList entriesUnder(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next().mid(folder.size() + 1);
    names.sort();
    return names;
}

void verifyDefaults(const SettingsStore &store)
{
    QCOMPARE(store.portNumber(), 0);
    QCOMPARE(store.lineSettings(), QByteArray("19200,e,8,1"));
    QCOMPARE(store.lineSettingsIndex(), 5);
    QCOMPARE(store.languageName(), QStringLiteral("English"));
    QCOMPARE(store.languageIndex(), 0);
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
    void damagedFileKeptBeside();
    void linkedStoreNotWritable_data();
    void linkedStoreNotWritable();
    void linkToRegularFileWrittenInPlace();
    void fifoNeverOpened_data();
    void fifoNeverOpened();
    void nestedVariant_data();
    void nestedVariant();
    void sizeLimit_data();
    void sizeLimit();
    void sameFileAsQtSettings_data();
    void sameFileAsQtSettings();
    void valuesEditedWhereTheyStand();
    void concurrentSavesTakeTurns();
    void aReaderLooksAgainWhileTheStoreIsReplaced();
    void saveWaitsForABriefLock();
    void saveGivesUpOnAStuckLockAndSaysSo();
    void leftoverOfACutSaveRemoved();
    void storeOfAnotherUserIsReadNeverWritten();

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
    store.rememberPlace(7, "4800,n,8,1", 0);
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.loadSettings();
    verifyDefaults(store);
    QVERIFY(!QFileInfo::exists(userFile()));
}

void TestSettingsStore::languageAlone()
{
    writeFile(userFile(), "[General]\nLanguageFlag=ChineseBIG5\n");
    const SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), 0);
    QCOMPARE(store.lineSettings(), QByteArray("19200,e,8,1"));
    QCOMPARE(store.lineSettingsIndex(), 5);
    QCOMPARE(store.languageName(), QStringLiteral("ChineseBIG5"));
    QCOMPARE(store.languageIndex(), 2);
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
    QCOMPARE(store.portNumber(), port);
    QCOMPARE(store.lineSettings(), lineSettings);
    QCOMPARE(store.lineSettingsIndex(), index);
    QCOMPARE(store.languageName(), language);
    QCOMPARE(store.languageIndex(), languageIndex);
}

void TestSettingsStore::scanValuesWrittenTogether()
{
    SettingsStore store = loaded();
    store.rememberPlace(12, "57600,o,8,1", 9);
    store.saveScanSettings();

    const QByteArray written = readFile(userFile());
    QVERIFY(written.contains("ScanCommNo=12\n"));
    QVERIFY(written.contains("ScanBaudRateNo=9\n"));
    QVERIFY(written.contains("ScanBaudRate=\"57600,o,8,1\"\n"));
    QVERIFY(!written.contains("LanguageFlag"));

    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber(), 12);
    QCOMPARE(fresh.lineSettings(), QByteArray("57600,o,8,1"));
    QCOMPARE(fresh.lineSettingsIndex(), 9);
    QCOMPARE(fresh.languageName(), QStringLiteral("English"));
}

void TestSettingsStore::savesKeepWhatTheyDoNotWrite()
{
    writeFile(userFile(), "[General]\nScanCommNo=4\nScanBaudRateNo=3\nScanBaudRate=\"9600,e,8,1\"\n");
    SettingsStore store = loaded();
    // Changed in memory only: saving the language must not write these.
    store.rememberPlace(9, "4800,n,8,1", 0);
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveLanguage();

    SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber(), 4);
    QCOMPARE(fresh.lineSettings(), QByteArray("9600,e,8,1"));
    QCOMPARE(fresh.lineSettingsIndex(), 3);
    QCOMPARE(fresh.languageName(), QStringLiteral("ChineseBIG5"));
    QCOMPARE(fresh.languageIndex(), 2);

    fresh.selectLanguage(1, QStringLiteral("ChineseGB"));
    fresh.rememberPlace(2, fresh.lineSettings(), fresh.lineSettingsIndex());
    fresh.saveScanSettings();
    const SettingsStore after = loaded();
    QCOMPARE(after.portNumber(), 2);
    QCOMPARE(after.languageName(), QStringLiteral("ChineseBIG5"));
}

void TestSettingsStore::administratorPresets()
{
    writeFile(presetFile(1), "[General]\nScanCommNo=6\nScanBaudRateNo=twelve\n");
    writeFile(presetFile(2), "[General]\nScanCommNo=4\nScanBaudRate=\"9600,n,8,1\"\nScanBaudRateNo=2\n"
                             "LanguageFlag=ChineseGB\n");
    writeFile(userFile(), "[General]\nLanguageFlag=English\n");

    // The user's file first, then the folders in their listed order; an unusable value is skipped.
    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), 6);
    QCOMPARE(store.lineSettings(), QByteArray("9600,n,8,1"));
    QCOMPARE(store.lineSettingsIndex(), 2);
    QCOMPARE(store.languageName(), QStringLiteral("English"));

    store.rememberPlace(11, "38400,e,8,1", 7);
    store.saveScanSettings();
    const SettingsStore after = loaded();
    QCOMPARE(after.portNumber(), 11);
    QCOMPARE(after.lineSettings(), QByteArray("38400,e,8,1"));
    QCOMPARE(after.lineSettingsIndex(), 7);
    // The presets are read, never written.
    QVERIFY(readFile(presetFile(1)).contains("ScanCommNo=6\n"));
    QVERIFY(!readFile(presetFile(2)).contains("38400"));
}

void TestSettingsStore::environmentReadAtEachUse()
{
    SettingsStore store = loaded();
    store.rememberPlace(5, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();

    const QByteArray firstHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + QStringLiteral("/other")));
    QCOMPARE(loaded().portNumber(), 0);
    store.rememberPlace(8, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    QCOMPARE(loaded().portNumber(), 8);

    qputenv("XDG_CONFIG_HOME", firstHome);
    QCOMPARE(loaded().portNumber(), 5);
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
    const int reloadedIndex = loaded().languageIndex();
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
    QCOMPARE(store.portNumber(), 4);
    store.rememberPlace(13, "115200,n,8,1", 10);
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveScanSettings();
    store.saveLanguage();

    // Silent, and the values in memory serve on.
    QCOMPARE(store.portNumber(), 13);
    QCOMPARE(store.lineSettings(), QByteArray("115200,n,8,1"));
    QCOMPARE(store.lineSettingsIndex(), 10);
    QCOMPARE(store.languageIndex(), 2);

    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.portNumber(), 4);
    QCOMPARE(fresh.lineSettingsIndex(), 5);
    QCOMPARE(fresh.languageName(), QStringLiteral("English"));
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
    store.rememberPlace(3, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    const SettingsStore fresh = loaded();
    QCOMPARE(fresh.languageIndex(), 2);
    QCOMPARE(fresh.portNumber(), 3);
}

void TestSettingsStore::damagedFileKeptBeside()
{
    const QByteArray first("[General]\nScanCommNo=7\n[General\n");
    const QByteArray second("ScanCommNo 3\n\x01\x02");
    writeFile(userFile(), first);
    SettingsStore store = loaded();
    verifyDefaults(store);
    // Loading alone changes nothing; the save keeps the damaged file beside and writes a clean store.
    QCOMPARE(readFile(userFile()), first);
    store.selectLanguage(1, QStringLiteral("ChineseGB"));
    store.saveLanguage();
    QCOMPARE(readFile(userFile() + QStringLiteral(".damaged")), first);
    QCOMPARE(loaded().languageIndex(), 1);

    // A second damaged store never replaces the first one kept.
    writeFile(userFile(), second);
    store = loaded();
    QCOMPARE(store.languageIndex(), 0);
    store.rememberPlace(6, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    QCOMPARE(readFile(userFile() + QStringLiteral(".damaged")), first);
    QCOMPARE(readFile(userFile() + QStringLiteral(".damaged.2")), second);
    QCOMPARE(loaded().portNumber(), 6);
    QCOMPARE(entriesUnder(m_dir->path() + QStringLiteral("/home/KAVOR")),
             QStringList({"ModuleBench.conf", "ModuleBench.conf.damaged", "ModuleBench.conf.damaged.2"}));
}

void TestSettingsStore::linkedStoreNotWritable_data()
{
    QTest::addColumn<QString>("target"); // relative: under the test's folder
    QTest::addColumn<bool>("device");
    // Root may replace a device node; a link to one is a common way to switch saving off.
    QTest::newRow("device /dev/null") << QStringLiteral("/dev/null") << true;
    QTest::newRow("device /dev/zero") << QStringLiteral("/dev/zero") << true;
    QTest::newRow("dangling") << QStringLiteral("elsewhere/ModuleBench.conf") << false;
    QTest::newRow("folder") << QStringLiteral("folder") << false;
    QTest::newRow("loop") << QStringLiteral("home/KAVOR/ModuleBench.conf") << false;
}

void TestSettingsStore::linkedStoreNotWritable()
{
    QFETCH(QString, target);
    QFETCH(bool, device);
    const QString linkTarget = device ? deviceNodeLike(target, m_dir->path() + QStringLiteral("/dev"))
                                      : m_dir->path() + QLatin1Char('/') + target;
    if (linkTarget.isEmpty())
        QSKIP("root here cannot make a device node of its own; linking the real one would put it at risk");
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/home/KAVOR")));
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/folder")));
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/elsewhere")));
    QVERIFY(QFile::link(linkTarget, userFile()));
    const NodeId before = nodeId(linkTarget);
    const QStringList entries = entriesUnder(m_dir->path());

    SettingsStore store = loaded();
    verifyDefaults(store);
    store.rememberPlace(4, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    store.selectLanguage(2, QStringLiteral("ChineseBIG5"));
    store.saveLanguage();

    QCOMPARE(store.portNumber(), 4);
    QCOMPARE(store.languageIndex(), 2);
    QCOMPARE(QFileInfo(userFile()).symLinkTarget(), QFileInfo(linkTarget).absoluteFilePath());
    QVERIFY(nodeId(linkTarget) == before);
    QCOMPARE(entriesUnder(m_dir->path()), entries);
    verifyDefaults(loaded());
}

void TestSettingsStore::linkToRegularFileWrittenInPlace()
{
    const QString target = m_dir->path() + QStringLiteral("/kept/settings.ini");
    writeFile(target, "[General]\nScanCommNo=4\nLanguageFlag=ChineseGB\n[Other]\nKeep=1\n");
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/home/KAVOR")));
    QVERIFY(QFile::link(QStringLiteral("../../kept/settings.ini"), userFile()));

    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), 4);
    QCOMPARE(store.languageIndex(), 1);
    store.rememberPlace(9, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();

    QVERIFY(QFileInfo(userFile()).isSymLink());
    QCOMPARE(QFileInfo(userFile()).symLinkTarget(), target);
    QCOMPARE(readFile(target), QByteArray("[General]\nScanCommNo=9\nLanguageFlag=ChineseGB\nScanBaudRateNo=5\n"
                                          "ScanBaudRate=\"19200,e,8,1\"\n[Other]\nKeep=1\n"));
    QCOMPARE(entriesUnder(m_dir->path() + QStringLiteral("/kept")), QStringList{"settings.ini"});
    QCOMPARE(entriesUnder(m_dir->path() + QStringLiteral("/home/KAVOR")), QStringList{"ModuleBench.conf"});
    QCOMPARE(loaded().portNumber(), 9);
}

void TestSettingsStore::fifoNeverOpened_data()
{
    QTest::addColumn<bool>("userFifo");
    QTest::addColumn<bool>("presetFifo");
    QTest::newRow("user's store") << true << false;
    // A FIFO in the administrators' folder would hold up every user.
    QTest::newRow("administrators' store") << false << true;
    QTest::newRow("both") << true << true;
}

void TestSettingsStore::fifoNeverOpened()
{
    QFETCH(bool, userFifo);
    QFETCH(bool, presetFifo);
    QStringList fifos;
    for (const QString &path : {userFile(), presetFile(1)}) {
        const bool fifo = path == userFile() ? userFifo : presetFifo;
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (fifo) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            fifos << path;
        }
    }
    if (!userFifo)
        writeFile(userFile(), "[General]\nScanCommNo=2\n");
    writeFile(presetFile(2), "[General]\nLanguageFlag=ChineseBIG5\n");

    SettingsStore store;
    QVERIFY2(finishesInTime([&] { store.loadSettings(); }, fifos), "loading waited on a FIFO");
    QCOMPARE(store.portNumber(), userFifo ? 0 : 2);
    QCOMPARE(store.languageIndex(), 2);
    store.rememberPlace(5, store.lineSettings(), store.lineSettingsIndex());
    QVERIFY2(finishesInTime([&] { store.saveScanSettings(); }, fifos), "saving waited on a FIFO");
    for (const QString &fifo : fifos)
        QVERIFY(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());
    QCOMPARE(store.portNumber(), 5);
}

void TestSettingsStore::nestedVariant_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("damaged");
    // About 30,000 levels overflowed the stack of the settings library's reader, at start in the General
    // section and at the first save in another one; as large files they are damaged now.
    QTest::newRow("30,000 levels, General")
        << "[General]\nScanCommNo=3\nLanguageFlag=" + deepVariant(30000) + "\n" << 0 << true;
    QTest::newRow("30,000 levels, other section")
        << "[General]\nScanCommNo=3\n[Other]\nv=" + deepVariant(30000) + "\n" << 0 << true;
    // Within the size limit the value is no text, so no value of the store, and it is never decoded.
    QTest::newRow("3,000 levels, General")
        << "[General]\nScanCommNo=3\nLanguageFlag=" + deepVariant(3000) + "\n" << 3 << false;
    QTest::newRow("3,000 levels, other section")
        << "[General]\nScanCommNo=3\n[Other]\nv=" + deepVariant(3000) + "\n" << 3 << false;
}

void TestSettingsStore::nestedVariant()
{
    QFETCH(QByteArray, file);
    QFETCH(int, port);
    QFETCH(bool, damaged);
    writeFile(userFile(), file);
    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), port);
    QCOMPARE(store.languageIndex(), 0);
    store.rememberPlace(8, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();

    const SettingsStore after = loaded();
    QCOMPARE(after.portNumber(), 8);
    if (damaged) {
        QCOMPARE(readFile(userFile() + QStringLiteral(".damaged")), file);
    } else {
        // The rest of the file stays as it was, the deep value with it.
        const QByteArray rest = file.mid(file.indexOf("ScanCommNo=3\n") + 13);
        QVERIFY(readFile(userFile()).contains(rest));
    }
    // No lock file or temporary file stays behind.
    QCOMPARE(entriesUnder(m_dir->path() + QStringLiteral("/home/KAVOR")),
             damaged ? QStringList({"ModuleBench.conf", "ModuleBench.conf.damaged"})
                     : QStringList({"ModuleBench.conf"}));
}

void TestSettingsStore::sizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("damaged");
    // A save that would grow it past the limit keeps it beside and writes the saved values alone.
    QTest::newRow("64 KiB") << qint64(64 * 1024) << false;
    QTest::newRow("one byte more") << qint64(64 * 1024 + 1) << true;
    // 4.4 million keys froze the window for a minute during the save inside a search.
    QTest::newRow("50 MB") << qint64(50'000'000) << true;
}

void TestSettingsStore::sizeLimit()
{
    QFETCH(qint64, size);
    QFETCH(bool, damaged);
    QByteArray file("[General]\nScanCommNo=3\nLanguageFlag=ChineseGB\n[Other]\n");
    const QByteArray key("k0000000=1\n");
    file.reserve(size);
    for (int n = 0; file.size() + key.size() <= size; ++n)
        file += "k" + QByteArray::number(n).rightJustified(7, '0') + "=1\n";
    file += QByteArray(size - file.size(), ';');
    QCOMPARE(file.size(), size);
    writeFile(userFile(), file);
    const QByteArray hash = sha1(userFile());

    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), damaged ? 0 : 3);
    QCOMPARE(store.languageIndex(), damaged ? 0 : 1);
    store.rememberPlace(11, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    QCOMPARE(loaded().portNumber(), 11);
    QCOMPARE(sha1(userFile() + QStringLiteral(".damaged")), hash);
    QCOMPARE(loaded().languageIndex(), 0);

    // Well within the limit, a save keeps the other values in place.
    writeFile(userFile(), file.left(file.lastIndexOf('\n', 32 * 1024) + 1));
    store = loaded();
    QCOMPARE(store.portNumber(), 3);
    store.saveScanSettings();
    QCOMPARE(loaded().languageIndex(), 1);
    QVERIFY(!QFileInfo::exists(userFile() + QStringLiteral(".damaged.2")));
}

void TestSettingsStore::sameFileAsQtSettings_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QStringLiteral("ChineseGB");
    QTest::newRow("commas") << QStringLiteral("Chinese,GB,");
    QTest::newRow("spaces at the ends") << QStringLiteral("  Chinese GB ");
    QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c\\\"");
    QTest::newRow("control characters") << QStringLiteral("tab\there\x01" "5\x7f" "f\r\n");
    QTest::newRow("NUL then digits") << QStringLiteral("a") + QChar(0) + QStringLiteral("7b");
    QTest::newRow("Chinese") << QStringLiteral("中文 繁體");
    QTest::newRow("@ at the start") << QStringLiteral("@Variant(x)");
    QTest::newRow("semicolon and equals") << QStringLiteral("a;b=c");
    QTest::newRow("empty") << QString();
}

// Files the tool wrote before (through Qt's settings) read the same, and Qt reads what the store writes.
void TestSettingsStore::sameFileAsQtSettings()
{
    QFETCH(QString, name);
    QVERIFY(QDir().mkpath(m_dir->path() + QStringLiteral("/home/KAVOR")));
    {
        QSettings qt(userFile(), QSettings::IniFormat);
        qt.setValue(QStringLiteral("LanguageFlag"), name);
        qt.setValue(QStringLiteral("ScanCommNo"), 14);
        qt.setValue(QStringLiteral("Other/list"), QStringList{QStringLiteral("a"), QStringLiteral("b,c")});
    }
    SettingsStore store = loaded();
    QCOMPARE(store.languageName(), name);
    QCOMPARE(store.portNumber(), 14);

    store.selectLanguage(0, name + QStringLiteral("1"));
    store.rememberPlace(store.portNumber(), name.toLatin1(), store.lineSettingsIndex());
    store.saveLanguage();
    store.saveScanSettings();
    QSettings qt(userFile(), QSettings::IniFormat);
    QCOMPARE(qt.status(), QSettings::NoError);
    QCOMPARE(qt.value(QStringLiteral("LanguageFlag")).toString(), name + QStringLiteral("1"));
    QCOMPARE(qt.value(QStringLiteral("ScanBaudRate")).toString(), QString::fromLatin1(name.toLatin1()));
    QCOMPARE(qt.value(QStringLiteral("ScanCommNo")).toInt(), 14);
    QCOMPARE(qt.value(QStringLiteral("Other/list")).toStringList(), QStringList({"a", "b,c"}));
    QCOMPARE(loaded().languageName(), name + QStringLiteral("1"));
}

void TestSettingsStore::valuesEditedWhereTheyStand()
{
    // Comments, order, other sections and line ends of a hand-edited file stay; a repeated key goes.
    writeFile(userFile(), "\xEF\xBB\xBF; kept\r\nScanCommNo=1\r\n[Other]\r\nScanCommNo=2\r\n"
                          "[General]\r\nLanguageFlag=ChineseGB\r\nScanCommNo=3\r\nx=y");
    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), 3);
    QCOMPARE(store.languageIndex(), 1);
    store.rememberPlace(12, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    QCOMPARE(readFile(userFile()),
             QByteArray("\xEF\xBB\xBF; kept\r\nScanCommNo=12\r\nScanBaudRateNo=5\r\nScanBaudRate=\"19200,e,8,1\"\r\n"
                        "[Other]\r\nScanCommNo=2\r\n[General]\r\nLanguageFlag=ChineseGB\r\nx=y"));
    QCOMPARE(loaded().portNumber(), 12);
}

namespace {

// What writer `id` stores: its own port, index and line-settings text, so a mixed store shows.
void setWriterValues(SettingsStore &store, int id)
{
    store.rememberPlace(id, "W" + QByteArray::number(id) + ",e,8,1", id % 12);
    store.selectLanguage(0, QStringLiteral("L%1").arg(id));
}

// The store is whole: the lines no save writes are there once, every saved key once, and the scan values
// are one writer's complete set. Gives the scan writer and the language writer.
std::pair<int, int> checkWhole(const QByteArray &bytes)
{
    const auto once = [&bytes](const QByteArray &text) { return bytes.count(text) == 1; };
    if (!bytes.startsWith("; bench store\n") || !once("[Other]\nkeep=1\n") || !once("ScanCommNo=")
        || !once("ScanBaudRateNo=") || !once("ScanBaudRate=") || !once("LanguageFlag="))
        return {-1, -1};
    const QRegularExpression scan(QStringLiteral("ScanCommNo=(\\d+)\nScanBaudRateNo=(\\d+)\nScanBaudRate=\"W(\\d+),e,8,1\"\n"
                                                 "LanguageFlag=L(\\d+)\n"));
    const QRegularExpressionMatch m = scan.match(QString::fromLatin1(bytes));
    if (!m.hasMatch())
        return {-1, -1};
    const int port = m.captured(1).toInt();
    if (m.captured(2).toInt() != port % 12 || m.captured(3).toInt() != port)
        return {-1, -1};
    return {port, m.captured(4).toInt()};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Another process holding the settings folder's lock, as a saving copy of the tool would.
struct LockHolder {
    QProcess process;
    bool start(const QString &folder, int ms)
    {
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--hold-lock"), folder, QString::number(ms)});
        return process.waitForReadyRead(10000) && process.readAll().startsWith("held");
    }
    ~LockHolder()
    {
        process.kill();
        process.waitForFinished();
    }
};

} // namespace

void TestSettingsStore::concurrentSavesTakeTurns()
{
    // Copies of the window (language and scan values) and of the console program (scan values) save at once;
    // the store is read all the while.
    writeFile(userFile(), "; bench store\nScanCommNo=100\nScanBaudRateNo=4\nScanBaudRate=\"W100,e,8,1\"\n"
                          "LanguageFlag=L100\n[Other]\nkeep=1\n");
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int id = 1; id <= 6; ++id) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(QCoreApplication::applicationFilePath(),
                              {QStringLiteral("--save-loop"), id % 2 ? QStringLiteral("window") : QStringLiteral("cli"),
                               QString::number(id), QStringLiteral("25")});
    }
    int reads = 0;
    const auto running = [&writers] {
        return std::any_of(writers.begin(), writers.end(),
                           [](const auto &w) { return w->state() != QProcess::NotRunning; });
    };
    while (running()) {
        const QByteArray bytes = readAll(userFile());
        QVERIFY2(checkWhole(bytes).first >= 0, bytes.constData());
        const SettingsStore store = loaded();
        QCOMPARE(store.lineSettings(), "W" + QByteArray::number(store.portNumber()) + ",e,8,1");
        ++reads;
        QTest::qWait(2);
    }
    for (const auto &w : writers) {
        QCOMPARE(w->state(), QProcess::NotRunning);
        QCOMPARE(w->exitStatus(), QProcess::NormalExit);
        QVERIFY2(w->exitCode() == 0, w->readAllStandardError().constData());
    }
    const auto [scanWriter, languageWriter] = checkWhole(readAll(userFile()));
    QVERIFY(scanWriter >= 1 && scanWriter <= 6);
    QVERIFY(languageWriter % 2 == 1 && languageWriter <= 5);
    QCOMPARE(QDir(QFileInfo(userFile()).absolutePath()).entryList(QDir::Files), QStringList{"ModuleBench.conf"});
    qInfo("%d reads of the store during 225 saves from 6 processes", reads);
}

void TestSettingsStore::aReaderLooksAgainWhileTheStoreIsReplaced()
{
    // Another process renames a new store over the old one without a pause, as saves in a row do: a reader
    // that finds another file at its open than at its look before reads again, and never takes the defaults.
    writeFile(userFile(), "ScanCommNo=4\n");
    QProcess replacer;
    replacer.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--replace-loop"), userFile(), QStringLiteral("1500")});
    QVERIFY(replacer.waitForStarted());
    int reads = 0;
    while (replacer.state() != QProcess::NotRunning && reads < 100000) {
        const int port = loaded().portNumber();
        QVERIFY2(port == 4 || port == 5, qPrintable(QStringLiteral("read %1: port %2").arg(reads).arg(port)));
        ++reads;
    }
    QVERIFY(replacer.waitForFinished(10000));
    QCOMPARE(replacer.exitCode(), 0);
    qInfo("%d reads while the store was replaced", reads);
}

void TestSettingsStore::saveWaitsForABriefLock()
{
    // A copy that holds the lock for a moment delays the save; the value is not lost.
    QVERIFY(QDir().mkpath(QFileInfo(userFile()).absolutePath()));
    LockHolder holder;
    QVERIFY(holder.start(QFileInfo(userFile()).absolutePath(), 1500));
    SettingsStore store;
    store.rememberPlace(7, store.lineSettings(), store.lineSettingsIndex());
    store.saveScanSettings();
    QVERIFY(holder.process.waitForFinished(10000));
    QCOMPARE(loaded().portNumber(), 7);
}

void TestSettingsStore::saveGivesUpOnAStuckLockAndSaysSo()
{
    writeFile(userFile(), "ScanCommNo=4\n");
    LockHolder holder;
    QVERIFY(holder.start(QFileInfo(userFile()).absolutePath(), 60000));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^settings not saved: another process has held .*/KAVOR "
                                                           "locked for more than 3 s")));
    SettingsStore store;
    store.rememberPlace(9, store.lineSettings(), store.lineSettingsIndex());
    QVERIFY(!store.saveScanSettings());
    QCOMPARE(readAll(userFile()), QByteArray("ScanCommNo=4\n"));
    holder.process.kill();
    QVERIFY(holder.process.waitForFinished(10000));
    QVERIFY(store.saveScanSettings());
    QCOMPARE(loaded().portNumber(), 9);
}

// Root started with another user's configuration folder (sudo -E, a kept HOME): that user's store is read,
// but nothing is written there, not through a link the user planted, nor as a new folder or file of root's;
// the run says so once.
void TestSettingsStore::storeOfAnotherUserIsReadNeverWritten()
{
    QString reason;
    if (!canRunAsNobody(&reason))
        QSKIP(qPrintable(reason));
    const QString shared = makeStickyFolder(m_dir->path(), QStringLiteral("shared"));
    QVERIFY(!shared.isEmpty());
    const QString rootFile = m_dir->path() + QStringLiteral("/secret/root.ini");
    writeFile(rootFile, "[General]\nScanCommNo=4\n");
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(rootFile).absolutePath()).constData(), 0700), 0);
    const QString linked = shared + QStringLiteral("/linked");
    const QString bare = shared + QStringLiteral("/bare");
    QVERIFY2(runAsNobody(QStringLiteral("mkdir -p '%1/KAVOR' '%2' && ln -s '%3' '%1/KAVOR/ModuleBench.conf'")
                             .arg(linked, bare, rootFile),
                         &reason),
             qPrintable(reason));

    qputenv("XDG_CONFIG_HOME", QFile::encodeName(linked));
    SettingsStore store = loaded();
    QCOMPARE(store.portNumber(), 4);
    store.rememberPlace(7, store.lineSettings(), store.lineSettingsIndex());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                           "^settings not saved: .*/linked.* belongs to another user \\(uid 65534\\)")));
    QVERIFY(!store.saveScanSettings());
    QTest::failOnWarning(QRegularExpression(QStringLiteral("settings not saved")));
    QVERIFY(!store.saveLanguage());
    QCOMPARE(readFile(rootFile), QByteArray("[General]\nScanCommNo=4\n"));
    QCOMPARE(entriesUnder(linked), QStringList({"KAVOR", "KAVOR/ModuleBench.conf"}));

    qputenv("XDG_CONFIG_HOME", QFile::encodeName(bare));
    QVERIFY(!store.saveScanSettings());
    QCOMPARE(entriesUnder(bare), QStringList());
    // Nor a folder of its own made inside hers.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(bare + QStringLiteral("/not/yet")));
    QVERIFY(!store.saveScanSettings());
    QCOMPARE(entriesUnder(bare), QStringList());
}

void TestSettingsStore::leftoverOfACutSaveRemoved()
{
    // A save killed between its new file and the rename leaves ModuleBench.conf.new-PID-N; the next save
    // removes those whose process has gone, and nothing else.
    QProcess ended;
    ended.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit")});
    QVERIFY(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    QVERIFY(ended.waitForFinished());
    const QString folder = QFileInfo(userFile()).absolutePath();
    writeFile(userFile(), "ScanCommNo=4\n");
    const QString dead = userFile() + QStringLiteral(".new-%1-0").arg(deadPid);
    const QString alive = userFile() + QStringLiteral(".new-%1-3").arg(QCoreApplication::applicationPid());
    for (const QString &name : {dead, alive, userFile() + ".new-x-1", userFile() + ".newer", userFile() + ".damaged"})
        writeFile(name, "ScanCommNo=1\n");
    SettingsStore store = loaded();
    store.rememberPlace(5, store.lineSettings(), store.lineSettingsIndex());
    QVERIFY(store.saveScanSettings());
    QVERIFY(!QFileInfo::exists(dead));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             QStringList({"ModuleBench.conf", "ModuleBench.conf.damaged", QFileInfo(alive).fileName(),
                          "ModuleBench.conf.new-x-1", "ModuleBench.conf.newer"}));
    QCOMPARE(loaded().portNumber(), 5);
}

// Helpers run as separate processes by the tests above:
//   --save-loop window|cli ID ROUNDS   saves ROUNDS times as the window (language, then scan values) or the
//                                      console program (scan values) would; exit status: saves that failed
//   --hold-lock FOLDER MS              holds the folder's lock for MS ms ("held" once it does)
//   --replace-loop FILE MS             renames a new file (ScanCommNo 4 or 5) over FILE again and again for MS ms
//   --exit                             ends at once (a process id that is gone)
int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--save-loop") == 0) {
        const bool window = qstrcmp(argv[2], "window") == 0;
        const int id = QByteArray(argv[3]).toInt();
        int failed = 0;
        for (int round = QByteArray(argv[4]).toInt(); round > 0; --round) {
            SettingsStore store;
            store.loadSettings();
            setWriterValues(store, id);
            if (window && !store.saveLanguage())
                ++failed;
            if (!store.saveScanSettings())
                ++failed;
        }
        return failed;
    }
    if (argc == 4 && qstrcmp(argv[1], "--hold-lock") == 0) {
        const int fd = ::open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            return 1;
        std::printf("held\n");
        std::fflush(stdout);
        ::usleep(useconds_t(QByteArray(argv[3]).toInt()) * 1000);
        return 0;
    }
    if (argc == 4 && qstrcmp(argv[1], "--replace-loop") == 0) {
        const QByteArray next = QByteArray(argv[2]) + ".next";
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; timer.elapsed() < QByteArray(argv[3]).toInt(); ++i) {
            const QByteArray bytes = "ScanCommNo=" + QByteArray::number(4 + i % 2) + "\n";
            const int fd = ::open(next.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::close(fd) != 0
                || ::rename(next.constData(), argv[2]) != 0)
                return 1;
        }
        return 0;
    }
    if (argc == 2 && qstrcmp(argv[1], "--exit") == 0)
        return 0;
    QCoreApplication app(argc, argv);
    TestSettingsStore test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_settings_store.moc"
