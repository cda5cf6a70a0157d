// The stored settings and the COMn port links are looked for in the same configuration folders, and a
// relative $XDG_CONFIG_HOME or $XDG_CONFIG_DIRS entry (which would depend on the working folder) counts for
// neither.
#include "port_names.h"
#include "settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestConfigFolders : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relativeConfigHomeIgnored();
    void relativeConfigDirsSkipped();

private:
    // A settings file with this port and a COM5 link to a device file named after the folder.
    void fillFolder(const QString &folder, int port);
    QString deviceOf(const QString &folder) const { return m_dir->filePath(QStringLiteral("devices/") + folder); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldWorkingFolder;
    QByteArray m_oldHome;
};

void TestConfigFolders::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldWorkingFolder = QDir::currentPath();
    m_oldHome = qgetenv("HOME");
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("work"))));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("devices"))));
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("work"))));
    qputenv("HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("user"))));
}

void TestConfigFolders::cleanup()
{
    QDir::setCurrent(m_oldWorkingFolder);
    qputenv("HOME", m_oldHome);
    m_dir.reset();
}

void TestConfigFolders::fillFolder(const QString &folder, int port)
{
    const QString base = QDir::isAbsolutePath(folder) ? folder : QDir::current().filePath(folder);
    QVERIFY(QDir().mkpath(base + QStringLiteral("/KAVOR/ports")));
    QFile settings(base + QStringLiteral("/KAVOR/ModuleBench.conf"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nScanCommNo=" + QByteArray::number(port) + "\n");
    const QString device = deviceOf(QFileInfo(folder).fileName());
    QFile node(device);
    QVERIFY(node.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(device, base + QStringLiteral("/KAVOR/ports/COM5")));
}

void TestConfigFolders::relativeConfigHomeIgnored()
{
    fillFolder(QStringLiteral("relative"), 3);
    fillFolder(m_dir->filePath(QStringLiteral("user/.config")), 7);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("etc"))));
    qputenv("XDG_CONFIG_HOME", "relative");
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir->filePath(QStringLiteral("etc"))));

    // ~/.config serves, as when the variable is not set.
    SettingsStore store;
    store.loadSettings();
    QCOMPARE(store.portNumber(), 7);
    QCOMPARE(devicePathForPort(5), deviceOf(QStringLiteral(".config")));

    store.selectLanguage(1, QStringLiteral("ChineseGB"));
    store.saveLanguage();
    QFile relative(QStringLiteral("relative/KAVOR/ModuleBench.conf"));
    QVERIFY(relative.open(QIODevice::ReadOnly));
    QCOMPARE(relative.readAll(), QByteArray("[General]\nScanCommNo=3\n"));
    QFile user(m_dir->filePath(QStringLiteral("user/.config/KAVOR/ModuleBench.conf")));
    QVERIFY(user.open(QIODevice::ReadOnly));
    QVERIFY(user.readAll().contains("LanguageFlag=ChineseGB"));
}

void TestConfigFolders::relativeConfigDirsSkipped()
{
    fillFolder(QStringLiteral("first"), 4);
    fillFolder(m_dir->filePath(QStringLiteral("second")), 9);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_DIRS", "first::" + QFile::encodeName(m_dir->filePath(QStringLiteral("second"))));

    SettingsStore store;
    store.loadSettings();
    QCOMPARE(store.portNumber(), 9);
    QCOMPARE(devicePathForPort(5), deviceOf(QStringLiteral("second")));
}

QTEST_GUILESS_MAIN(TestConfigFolders)
#include "tst_config_folders.moc"
