// The files the program writes are its user's own: no link another user planted is written through, the station's
// records are never made in another user's folder and are readable by their owner alone, and root opens no device
// another user's port link names. Real processes; another user is nobody (setpriv, as root, as CI runs).
#include "cli_process.h"
#include "window_rig.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(0);
}

// A root-owned file only root may read, which a run must leave as it is.
QString rootFile(const QString &path)
{
    writeFile(path, QByteArray());
    ::chmod(QFile::encodeName(path).constData(), 0600);
    return path;
}

} // namespace

class TestOwnFiles : public QObject {
    Q_OBJECT
private slots:
    // Made fresh under umask 022: the station's data folder 0700, its records file 0600.
    void theStationsRecordsAreItsUsersAlone()
    {
        ScopedConfigHome home;
        home.linkAllPortsToNothing();
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.filePath(QStringLiteral("share"))));
        const mode_t before = ::umask(022);
        const CliRun run = runCli({"scan", "-p", "3", "--no-store", "--db"}, 20000);
        ::umask(before);
        const QString folder = data.filePath(QStringLiteral("share/KAVOR/ModuleBench"));
        QVERIFY2(run.finished && QFileInfo::exists(folder + QStringLiteral("/records.sqlite")), run.describe());
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(data.filePath(QStringLiteral("share/KAVOR"))), mode_t(0700));
        QCOMPARE(modeOf(folder + QStringLiteral("/records.sqlite")), mode_t(0600));
    }

    // As root: a link another user planted in a sticky folder is not followed by --db sqlite:, and the station's
    // own file is never made or written in another user's folder; one line says so, the targets stay untouched.
    void noLinkOrFolderOfAnotherUserIsWrittenThrough()
    {
        QString reason;
        if (!canRunAsNobody(&reason))
            QSKIP(qPrintable(reason));
        ScopedConfigHome home;
        home.linkAllPortsToNothing();
        QTemporaryDir temporary;
        const QString shared = makeStickyFolder(temporary.path(), QStringLiteral("shared"));
        QVERIFY(!shared.isEmpty());
        const QString target = rootFile(temporary.filePath(QStringLiteral("root.sqlite")));
        QVERIFY(QDir().mkdir(temporary.filePath(QStringLiteral("root-only")), QFile::ReadOwner | QFile::WriteOwner
                                                                                | QFile::ExeOwner));
        const QString missing = temporary.filePath(QStringLiteral("root-only/made.sqlite"));
        QString error;
        QVERIFY2(runAsNobody(QStringLiteral("ln -s '%1' '%2/c.sqlite' && ln -s '%3' '%2/d.sqlite' && "
                                            "ln -s '%1' '%2/e.sqlite-journal' && mkdir '%2/home'")
                                 .arg(target, shared, missing),
                             &error),
                 qPrintable(error));
        for (const char *name : {"c.sqlite", "d.sqlite", "e.sqlite"}) {
            const QString db = QStringLiteral("sqlite:") + shared + QLatin1Char('/') + QLatin1String(name);
            const CliRun run = runCli({"scan", "-p", "3", "--no-store", "--db", db}, 20000);
            QVERIFY2(run.finished && run.exitCode == 13, run.describe());
            QCOMPARE(run.errors().count('\n'), 1);
        }
        QCOMPARE(QFileInfo(target).size(), qint64(0));
        QVERIFY(!QFileInfo::exists(missing));
        QVERIFY(!QFileInfo::exists(shared + QStringLiteral("/e.sqlite")));

        // The station's own file with XDG_DATA_HOME in another user's folder: nothing made there...
        const QString otherHome = shared + QStringLiteral("/home");
        qputenv("XDG_DATA_HOME", QFile::encodeName(otherHome));
        const CliRun fresh = runCli({"scan", "-p", "3", "--no-store", "--db"}, 20000);
        QVERIFY2(fresh.finished && fresh.exitCode == 13, fresh.describe());
        QCOMPARE(fresh.errors().count('\n'), 1);
        QVERIFY(!QFileInfo::exists(otherHome + QStringLiteral("/KAVOR")));
        // ...and nothing written through the link that user put in the file's place.
        QVERIFY2(runAsNobody(QStringLiteral("mkdir -p '%1/KAVOR/ModuleBench' && ln -s '%2' '%1/KAVOR/ModuleBench/"
                                            "records.sqlite'")
                                 .arg(otherHome, target),
                             &error),
                 qPrintable(error));
        const CliRun planted = runCli({"scan", "-p", "3", "--no-store", "--db"}, 20000);
        QVERIFY2(planted.finished && planted.exitCode == 13, planted.describe());
        QCOMPARE(planted.errors().count('\n'), 1);
        QCOMPARE(QFileInfo(target).size(), qint64(0));
    }

    // As root, a port link in another user's configuration folder (sudo -E) names no device.
    void rootFollowsNoPortLinkOfAnotherUser()
    {
        QString reason;
        if (!canRunAsNobody(&reason))
            QSKIP(qPrintable(reason));
        ScopedConfigHome home;
        QTemporaryDir temporary;
        const QString log = temporary.filePath(QStringLiteral("module.log"));
        SimProcess module({"--serial", "KV004001", "--log", log});
        QVERIFY(module.start());
        const QString shared = makeStickyFolder(temporary.path(), QStringLiteral("shared"));
        QString error;
        QVERIFY2(runAsNobody(QStringLiteral("mkdir -p '%1/config/KAVOR/ports' && "
                                            "ln -s '%2' '%1/config/KAVOR/ports/COM3'")
                                 .arg(shared, module.slavePath()),
                             &error),
                 qPrintable(error));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(shared + QStringLiteral("/config")));
        const CliRun run = runCli({"scan", "-p", "3", "--no-store"}, 20000);
        QVERIFY2(run.finished && run.exitCode != 0, run.describe());
        QVERIFY2(requestsHeard(module).isEmpty(), qPrintable(module.log()));
        // Root's own link is followed as before.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.configHome()));
        home.linkPort(3, module.slavePath());
        const CliRun own = runCli({"scan", "-p", "3", "--no-store"}, 20000);
        QVERIFY2(own.finished && own.exitCode == 0, own.describe());
    }
};

QTEST_MAIN(TestOwnFiles)
#include "tst_own_files.moc"
