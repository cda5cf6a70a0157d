// Damaged, hostile and odd settings stores, each replayed against the real store and the real window start-up
// (offscreen): the window is up within 2 s with the defaults or the file's good values, a language click and a
// scan's save change nothing but the store's own file, and a damaged file is kept beside, never lost.
// The small files live in corpus/ (with their expected values in corpus/expected.txt); the large and special
// ones (links, FIFOs, devices, sockets, files of megabytes) are made here at each run.
#include "module_window.h"
#include "window_fixture.h"
#include "settings_store.h"
#include "startup.h"
#include "test_support.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr qint64 kStartLimitMs = 2000;
const QString kStore = QStringLiteral("home/KAVOR/ModuleBench.conf");
const QString kSystemStore = QStringLiteral("dirs/KAVOR/ModuleBench.conf");

enum class Outcome {
    Read,        // its values; the save edits the store in place
    Damaged,     // defaults; the save keeps the file beside and writes a clean store
    Unwritable,  // its values (mostly the defaults); the save changes nothing at all
    ThroughLink, // its values; the save writes the regular file the store's link leads to, the link stays
};

struct Values {
    int port = 0;
    QByteArray lineSettings = "19200,e,8,1";
    int index = 5;
    QString language = QStringLiteral("English"); // "*": any name but the three
};

// The folder of one case: "home" is XDG_CONFIG_HOME, "dirs" the one folder of XDG_CONFIG_DIRS.
using Install = std::function<bool(const QString &root)>;

struct Case {
    QString name;
    Outcome outcome = Outcome::Read;
    Values values;
    Install install;
    QString changed = kStore; // Read: the file the save writes; Damaged: the name the damaged file gets
};

// ---- making the cases ----

bool mkdirs(const QString &path)
{
    return QDir().mkpath(path);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    if (!mkdirs(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool makeLink(const QString &target, const QString &link)
{
    return mkdirs(QFileInfo(link).absolutePath()) && QFile::link(target, link);
}

bool makeFifo(const QString &path)
{
    return mkdirs(QFileInfo(path).absolutePath()) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool makeSocket(const QString &path)
{
    if (!mkdirs(QFileInfo(path).absolutePath()))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (fd < 0 || name.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    qstrcpy(address.sun_path, name.constData());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd); // the socket file stays
    return bound;
}

// A link to a device node like /dev/null (a private node as root; see deviceNodeLike).
Install linkToDevice(const QString &device, const QString &linkPath = kStore)
{
    return [=](const QString &root) {
        const QString node = deviceNodeLike(device, root + QStringLiteral("/dev"));
        return !node.isEmpty() && makeLink(node, root + QLatin1Char('/') + linkPath);
    };
}

Install file(const QByteArray &bytes, const QString &path = kStore)
{
    return [=](const QString &root) { return writeBytes(root + QLatin1Char('/') + path, bytes); };
}

// Made when the case runs: the large ones would hold memory and time for every case.
Install madeFile(const std::function<QByteArray()> &make, const QString &path = kStore)
{
    return [=](const QString &root) { return writeBytes(root + QLatin1Char('/') + path, make()); };
}

Install both(Install first, Install second)
{
    return [=](const QString &root) { return first(root) && second(root); };
}

// @Variant(...) of a list in a list ..., as Qt's settings files hold it, `depth` levels deep.
QByteArray deepVariant(int depth)
{
    return "@Variant(" + QByteArray("\\0\\0\\0\\t\\0\\0\\0\\x1").repeated(depth) + "\\0\\0\\0\\t\\0\\0\\0\\0)";
}

// A well-formed store of `size` bytes: the head, then keys of another section.
QByteArray keysFile(const QByteArray &head, qint64 size)
{
    QByteArray text = head + "[Other]\n";
    text.reserve(size);
    for (int n = 0; text.size() + 11 <= size; ++n)
        text += "k" + QByteArray::number(n).rightJustified(7, '0') + "=1\n";
    return text + QByteArray(size - text.size(), '\n');
}

Values values(int port, const QString &language = QStringLiteral("English"))
{
    Values v;
    v.port = port;
    v.language = language;
    return v;
}

std::vector<Case> generatedCases()
{
    const QByteArray good("[General]\nScanCommNo=4\nLanguageFlag=ChineseGB\n");
    const QByteArray user("[General]\nScanCommNo=2\n");
    std::vector<Case> cases;
    auto add = [&](const char *name, Outcome outcome, Values v, Install install, const QString &changed = kStore) {
        cases.push_back({QString::fromLatin1(name), outcome, v, install, changed});
    };
    // Deep @Variant values overflowed the stack of the settings library's reader.
    add("nested-variant-30000-general", Outcome::Damaged, {},
        madeFile([] { return "[General]\nScanCommNo=3\nLanguageFlag=" + deepVariant(30000) + "\n"; }), kStore + ".damaged");
    add("nested-variant-30000-other-section", Outcome::Damaged, {},
        madeFile([] { return "[General]\nScanCommNo=3\n[Other]\nv=" + deepVariant(30000) + "\n"; }), kStore + ".damaged");
    add("nested-variant-3000-general", Outcome::Read, values(3),
        madeFile([] { return "[General]\nScanCommNo=3\nLanguageFlag=" + deepVariant(3000) + "\n"; }));
    add("nested-variant-3000-other-section", Outcome::Read, values(3),
        madeFile([] { return "[General]\nScanCommNo=3\n[Other]\nv=" + deepVariant(3000) + "\n"; }));
    // Size.
    add("huge-50-MB", Outcome::Damaged, {}, madeFile([=] { return keysFile(good, 50'000'000); }), kStore + ".damaged");
    add("sparse-1-GB", Outcome::Damaged, {},
        [](const QString &root) {
            QFile f(root + QLatin1Char('/') + kStore);
            return mkdirs(QFileInfo(f).absolutePath()) && f.open(QIODevice::WriteOnly) && f.resize(qint64(1) << 30);
        },
        kStore + ".damaged");
    add("one-byte-over-64-KiB", Outcome::Damaged, {}, madeFile([=] { return keysFile(good, 64 * 1024 + 1); }), kStore + ".damaged");
    add("near-64-KiB", Outcome::Read, values(4, QStringLiteral("ChineseGB")), madeFile([=] { return keysFile(good, 64 * 1024 - 300); }));
    add("long-value", Outcome::Read, values(0, QStringLiteral("*")),
        madeFile([] { return "[General]\nLanguageFlag=" + QByteArray(60000, 'x') + "\n"; }));
    add("many-keys", Outcome::Read, values(4, QStringLiteral("ChineseGB")), madeFile([=] { return keysFile(good, 50000); }));
    // Links.
    add("link-to-dev-null", Outcome::Unwritable, {}, linkToDevice(QStringLiteral("/dev/null")));
    add("link-to-dev-zero", Outcome::Unwritable, {}, linkToDevice(QStringLiteral("/dev/zero")));
    add("link-to-dev-full", Outcome::Unwritable, {}, linkToDevice(QStringLiteral("/dev/full")));
    add("link-to-dev-urandom", Outcome::Unwritable, {}, linkToDevice(QStringLiteral("/dev/urandom")));
    add("dangling-link", Outcome::Unwritable, {}, [](const QString &root) {
        return mkdirs(root + QStringLiteral("/elsewhere")) &&
               makeLink(root + QStringLiteral("/elsewhere/settings.conf"), root + QLatin1Char('/') + kStore);
    });
    add("link-to-itself", Outcome::Unwritable, {},
        [](const QString &root) { return makeLink(QStringLiteral("ModuleBench.conf"), root + QLatin1Char('/') + kStore); });
    add("two-link-loop", Outcome::Unwritable, {}, [](const QString &root) {
        return makeLink(QStringLiteral("other.conf"), root + QLatin1Char('/') + kStore) &&
               makeLink(QStringLiteral("ModuleBench.conf"), root + QStringLiteral("/home/KAVOR/other.conf"));
    });
    add("link-to-folder", Outcome::Unwritable, {}, [](const QString &root) {
        return mkdirs(root + QStringLiteral("/folder")) && makeLink(root + QStringLiteral("/folder"), root + QLatin1Char('/') + kStore);
    });
    add("link-to-good-file", Outcome::ThroughLink, values(4, QStringLiteral("ChineseGB")),
        both(file(good, QStringLiteral("kept/settings.ini")),
             [](const QString &root) { return makeLink(QStringLiteral("../../kept/settings.ini"), root + QLatin1Char('/') + kStore); }),
        QStringLiteral("kept/settings.ini"));
    add("link-chain-to-good-file", Outcome::ThroughLink, values(4, QStringLiteral("ChineseGB")),
        both(file(good, QStringLiteral("kept/settings.ini")), [](const QString &root) {
            return makeLink(root + QStringLiteral("/kept/settings.ini"), root + QStringLiteral("/kept/link")) &&
                   makeLink(root + QStringLiteral("/kept/link"), root + QLatin1Char('/') + kStore);
        }),
        QStringLiteral("kept/settings.ini"));
    // What a link leads to may belong to anything: a damaged one is left alone, not moved.
    add("link-to-damaged-file", Outcome::Unwritable, {},
        both(file("root:x:0:0:root:/root:/bin/bash\n", QStringLiteral("kept/passwd")),
             [](const QString &root) { return makeLink(root + QStringLiteral("/kept/passwd"), root + QLatin1Char('/') + kStore); }));
    add("link-to-proc-status", Outcome::Unwritable, {},
        [](const QString &root) { return makeLink(QStringLiteral("/proc/self/status"), root + QLatin1Char('/') + kStore); });
    // Nodes that are no regular file.
    add("fifo-store", Outcome::Unwritable, {}, [](const QString &root) { return makeFifo(root + QLatin1Char('/') + kStore); });
    add("fifo-in-system-folder", Outcome::Read, values(2),
        both(file(user), [](const QString &root) { return makeFifo(root + QLatin1Char('/') + kSystemStore); }));
    add("fifo-store-and-system-folder", Outcome::Unwritable, {}, [](const QString &root) {
        return makeFifo(root + QLatin1Char('/') + kStore) && makeFifo(root + QLatin1Char('/') + kSystemStore);
    });
    add("folder-store", Outcome::Unwritable, {}, [](const QString &root) { return mkdirs(root + QLatin1Char('/') + kStore); });
    add("file-as-store-folder", Outcome::Unwritable, {}, file("not a folder\n", QStringLiteral("home/KAVOR")));
    add("fifo-as-store-folder", Outcome::Unwritable, {},
        [](const QString &root) { return makeFifo(root + QStringLiteral("/home/KAVOR")); });
    add("socket-store", Outcome::Unwritable, {}, [](const QString &root) { return makeSocket(root + QLatin1Char('/') + kStore); });
    // Beside the store.
    add("damaged-beside-earlier-damaged", Outcome::Damaged, {},
        both(file("\x01\x02garbage"), file("earlier", kStore + ".damaged")), kStore + ".damaged.2");
    add("stale-lock-file", Outcome::Read, values(2),
        both(file(user), file("999999\nModuleBench\nhost\n", kStore + ".lock")));
    // The administrators' folder.
    add("huge-in-system-folder", Outcome::Read, values(2),
        both(file(user), madeFile([=] { return keysFile(good, 2'000'000); }, kSystemStore)));
    add("nested-variant-in-system-folder", Outcome::Read, values(2),
        both(file(user), madeFile([] { return "[General]\nLanguageFlag=" + deepVariant(30000) + "\n"; }, kSystemStore)));
    add("device-in-system-folder", Outcome::Read, values(2), both(file(user), linkToDevice(QStringLiteral("/dev/zero"), kSystemStore)));
    add("system-folder-values-only", Outcome::Read, values(6, QStringLiteral("ChineseBIG5")),
        file("[General]\nScanCommNo=6\nLanguageFlag=ChineseBIG5\n", kSystemStore));
    add("no-store", Outcome::Read, {}, [](const QString &) { return true; });
    return cases;
}

QString decodeField(const QByteArray &field)
{
    return field == "-" ? QString() : QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

std::vector<Case> fileCases()
{
    std::vector<Case> cases;
    const QString folder = QStringLiteral(MB_SETTINGS_CORPUS);
    QFile manifest(folder + QStringLiteral("/expected.txt"));
    if (!manifest.open(QIODevice::ReadOnly))
        qFatal("no corpus manifest in %s", qPrintable(folder));
    while (!manifest.atEnd()) {
        const QByteArray line = manifest.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        Case c;
        c.name = QString::fromUtf8(fields.at(0));
        QFile corpusFile(folder + QLatin1Char('/') + c.name);
        if (!corpusFile.open(QIODevice::ReadOnly))
            qFatal("corpus file %s missing", qPrintable(c.name));
        const QByteArray bytes = corpusFile.readAll();
        c.install = file(bytes);
        if (fields.at(1) == "damaged") {
            c.outcome = Outcome::Damaged;
            c.changed = kStore + QStringLiteral(".damaged");
        } else if (fields.size() == 6) {
            c.values.port = fields.at(2).toInt();
            c.values.lineSettings = decodeField(fields.at(3)).toUtf8();
            c.values.index = fields.at(4).toInt();
            c.values.language = decodeField(fields.at(5));
        } else {
            qFatal("bad manifest line: %s", line.constData());
        }
        cases.push_back(c);
    }
    // Every file of the folder has its line.
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.conf")}, QDir::Files);
    if (names.size() != qsizetype(cases.size()))
        qFatal("%lld corpus files, %zu manifest lines", qint64(names.size()), cases.size());
    return cases;
}

const std::vector<Case> &allCases()
{
    static const std::vector<Case> cases = [] {
        std::vector<Case> all = fileCases();
        for (Case &c : generatedCases())
            all.push_back(std::move(c));
        return all;
    }();
    return cases;
}

// ---- what a folder holds, links not followed and FIFOs never opened ----

struct Entry {
    QByteArray kind; // file, dir, link, fifo, socket, device
    QByteArray detail;
    bool operator==(const Entry &other) const { return kind == other.kind && detail == other.detail; }
    bool operator!=(const Entry &other) const { return !(*this == other); }
};

QMap<QString, Entry> snapshot(const QString &root)
{
    QMap<QString, Entry> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        Entry entry;
        if (S_ISREG(st.st_mode)) {
            entry.kind = "file";
            // Large files by identity and size; the small ones by their bytes.
            if (st.st_size > 64 * 1024 * 1024) {
                entry.detail = "inode " + QByteArray::number(qulonglong(st.st_ino)) + " size " + QByteArray::number(qlonglong(st.st_size));
            } else {
                QFile file(path);
                QCryptographicHash hash(QCryptographicHash::Sha1);
                if (file.open(QIODevice::ReadOnly))
                    hash.addData(&file);
                entry.detail = hash.result().toHex() + " mode " + QByteArray::number(st.st_mode & 07777, 8);
            }
        } else if (S_ISDIR(st.st_mode)) {
            entry.kind = "dir";
        } else if (S_ISLNK(st.st_mode)) {
            entry.kind = "link";
            char target[4096];
            const ssize_t size = ::readlink(QFile::encodeName(path).constData(), target, sizeof(target));
            entry.detail = QByteArray(target, size > 0 ? int(size) : 0);
        } else if (S_ISFIFO(st.st_mode)) {
            entry.kind = "fifo";
            entry.detail = QByteArray::number(qulonglong(st.st_ino));
        } else if (S_ISSOCK(st.st_mode)) {
            entry.kind = "socket";
            entry.detail = QByteArray::number(qulonglong(st.st_ino));
        } else {
            entry.kind = "device";
            entry.detail = QByteArray::number(qulonglong(st.st_rdev)) + " " + QByteArray::number(qulonglong(st.st_ino));
        }
        entries.insert(path.mid(root.size() + 1), entry);
    }
    return entries;
}

// ---- the tool, as the program builds it ----

using Tool = WindowTool<>;

// Aborts the run with the case's name when a case takes longer than any start-up could: a wait on a FIFO
// cannot be interrupted from inside.
class Watchdog {
public:
    Watchdog(const QString &name, std::chrono::seconds limit)
        : m_name(name.toUtf8()), m_thread([this, limit] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; }))
                  qFatal("corpus case %s still running after %lld s: start-up or a save is blocked", m_name.constData(),
                         qlonglong(limit.count()));
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    QByteArray m_name;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

bool isKnownLanguage(const QString &name)
{
    return name == QLatin1String("English") || name == QLatin1String("ChineseGB") || name == QLatin1String("ChineseBIG5");
}

} // namespace

class TestSettingsCorpus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
    void unreadable_data();
    void unreadable();
    void cleanupTestCase();

private:
    void replayCase(const Case &c);
    void verifyValues(const SettingsStore &store, const Values &expected);

    qint64 m_slowestStartMs = 0;
    QString m_slowestCase;
    QElapsedTimer m_total;
    int m_replayed = 0;
};

void TestSettingsCorpus::initTestCase()
{
    setUpApplication();
    m_total.start();
}

void TestSettingsCorpus::verifyValues(const SettingsStore &store, const Values &expected)
{
    QCOMPARE(store.portNumber(), expected.port);
    QCOMPARE(store.lineSettings(), expected.lineSettings);
    QCOMPARE(store.lineSettingsIndex(), expected.index);
    if (expected.language == QLatin1String("*")) {
        QVERIFY2(!isKnownLanguage(store.languageName()), qPrintable(store.languageName()));
        QCOMPARE(store.languageIndex(), 0);
    } else {
        QCOMPARE(store.languageName(), expected.language);
        QCOMPARE(store.languageIndex(), languageIndexForName(expected.language));
    }
}

void TestSettingsCorpus::replay_data()
{
    QTest::addColumn<int>("which");
    const auto &cases = allCases();
    for (int i = 0; i < int(cases.size()); ++i)
        QTest::newRow(qPrintable(cases[size_t(i)].name)) << i;
}

void TestSettingsCorpus::replay()
{
    QFETCH(int, which);
    replayCase(allCases()[size_t(which)]);
}

void TestSettingsCorpus::replayCase(const Case &c)
{
    const Watchdog watchdog(c.name, std::chrono::seconds(60));
    ScopedConfigHome config;
    QVERIFY(config.isValid());
    const QString root = QFileInfo(config.configHome()).absolutePath();
    if (!c.install(root)) {
        if (c.name.startsWith(QLatin1String("link-to-dev")) || c.name.startsWith(QLatin1String("device-")))
            QSKIP("root here cannot make a device node of its own; linking the real one would put it at risk");
        QFAIL("the case could not be set up");
    }
    // No port number may reach a real device, whatever becomes of the user's folder.
    for (int n = 1; n <= 16; ++n)
        QVERIFY(makeLink(config.nothingPath(n), root + QStringLiteral("/dirs/KAVOR/ports/COM%1").arg(n)));
    const QMap<QString, Entry> before = snapshot(root);

    // The store alone.
    SettingsStore store;
    store.loadSettings();
    verifyValues(store, c.values);

    // The window, as the program starts it.
    QElapsedTimer startUp;
    startUp.start();
    auto tool = std::make_unique<Tool>();
    TfrmModule &window = tool->create();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const qint64 startMs = startUp.elapsed();
    ++m_replayed;
    if (startMs > m_slowestStartMs) {
        m_slowestStartMs = startMs;
        m_slowestCase = c.name;
    }
    QVERIFY2(startMs < kStartLimitMs, qPrintable(QStringLiteral("start-up took %1 ms").arg(startMs)));
    verifyValues(tool->session.settings(), c.values);
    QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("cmbBaudRate"))->currentIndex(), c.values.index);

    // A language click saves the language; a search that finds the module saves where.
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnGB")), Qt::LeftButton);
    QCOMPARE(tool->session.settings().languageIndex(), 1);
    SettingsStore found = tool->session.settings();
    found.rememberPlace(7, "57600,n,8,1", 8);
    found.saveScanSettings();
    QCOMPARE(found.portNumber(), 7);
    window.close();
    tool.reset();

    QMap<QString, Entry> after = snapshot(root);
    QMap<QString, Entry> expected = before;
    switch (c.outcome) {
    case Outcome::Unwritable:
        break;
    case Outcome::Read:
    case Outcome::ThroughLink:
        QVERIFY2(after.value(c.changed).kind == "file", qPrintable(c.changed));
        expected.insert(c.changed, after.value(c.changed));
        // A first save makes the store's folder.
        if (!before.contains(QStringLiteral("home/KAVOR")))
            expected.insert(QStringLiteral("home/KAVOR"), after.value(QStringLiteral("home/KAVOR")));
        break;
    case Outcome::Damaged:
        QVERIFY(after.value(kStore).kind == "file");
        // The damaged bytes, whole, under the name beside; a clean store in their place.
        QVERIFY2(after.contains(c.changed) && after.value(c.changed) == before.value(kStore), qPrintable(c.changed));
        expected.insert(kStore, after.value(kStore));
        expected.insert(c.changed, before.value(kStore));
        break;
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!expected.contains(it.key()))
            QFAIL(qPrintable(QStringLiteral("added: %1").arg(it.key())));
        if (expected.value(it.key()) != it.value())
            QFAIL(qPrintable(QStringLiteral("changed: %1").arg(it.key())));
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!after.contains(it.key()))
            QFAIL(qPrintable(QStringLiteral("gone: %1").arg(it.key())));
    }

    // The next start reads what was saved, or, where nothing could be, what was there.
    SettingsStore next;
    next.loadSettings();
    if (c.outcome == Outcome::Unwritable) {
        verifyValues(next, c.values);
    } else {
        QCOMPARE(next.portNumber(), 7);
        QCOMPARE(next.lineSettings(), QByteArray("57600,n,8,1"));
        QCOMPARE(next.lineSettingsIndex(), 8);
        QCOMPARE(next.languageIndex(), 1);
    }
}

void TestSettingsCorpus::unreadable_data()
{
    QTest::addColumn<QString>("locked"); // made unreadable, below the case's folder
    QTest::newRow("unreadable-store") << kStore;
    QTest::newRow("unreadable-store-folder") << QStringLiteral("home/KAVOR");
}

// Root reads any file whatever its permissions; as root the case runs as the user nobody (setpriv).
void TestSettingsCorpus::unreadable()
{
    QFETCH(QString, locked);
    if (::geteuid() == 0) {
        QProcess child;
        child.setProgram(QStringLiteral("setpriv"));
        child.setArguments({QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                            QCoreApplication::applicationFilePath(),
                            QStringLiteral("unreadable:") + QString::fromUtf8(QTest::currentDataTag())});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
        environment.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
        child.setProcessEnvironment(environment);
        child.start();
        QVERIFY2(child.waitForStarted(5000), "setpriv did not start");
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestSettingsCorpus::unreadable"), output.constData());
        return;
    }
    const QByteArray good("[General]\nScanCommNo=4\nLanguageFlag=ChineseGB\n");
    Case c;
    c.name = QString::fromUtf8(QTest::currentDataTag());
    c.outcome = Outcome::Unwritable;
    c.install = [=](const QString &root) {
        const QString path = root + QLatin1Char('/') + locked;
        return writeBytes(root + QLatin1Char('/') + kStore, good) && QFile(path).setPermissions({});
    };
    // Unreadable is unreadable for this user: the check that the case means what it says.
    replayCase(c);
    ScopedConfigHome probe;
    const QString root = QFileInfo(probe.configHome()).absolutePath();
    QVERIFY(c.install(root));
    QFile file(root + QLatin1Char('/') + kStore);
    QVERIFY(!file.open(QIODevice::ReadOnly));
    QFile(root + QLatin1Char('/') + locked).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestSettingsCorpus::cleanupTestCase()
{
    qint64 repoBytes = 0;
    const QStringList names = QDir(QStringLiteral(MB_SETTINGS_CORPUS)).entryList(QDir::Files);
    for (const QString &name : names)
        repoBytes += QFileInfo(QStringLiteral(MB_SETTINGS_CORPUS) + QLatin1Char('/') + name).size();
    qInfo("settings corpus: %d cases (%zu replayed here, 2 unreadable ones as an unprivileged user), %lld files "
          "with %lld bytes in the repository; slowest start-up %lld ms (%s); whole replay %lld ms",
          int(allCases().size()) + 2, size_t(m_replayed), qint64(names.size()), repoBytes, m_slowestStartMs,
          qPrintable(m_slowestCase), m_total.elapsed());
}

QTEST_MAIN(TestSettingsCorpus)
#include "tst_settings_corpus.moc"
