// What it costs to have each production-line record on the disk before the module counts as done: appends
// a record the size of a real one N times through the program's own record file (write, then fsync) and N
// times with the write alone, in a folder on the disk the records would go to, and prints the time per record
// of each and their difference. /tmp may be a RAM file system where a sync costs nothing: name a folder on
// the real disk. Usage: record_sync_bench [FOLDER, default the working folder] [RECORDS, default 200]
#include "record_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray kRecord =
    "2026-12-09T14:34:49+01:00,COM3,\"38400,n,8,1\",20240001,03.20-01,DEMO CUSTOMER REGISTER 0000001,ok,bench-2,1630\n";

struct Figures {
    double meanUs = 0;
    double medianUs = 0;
    double p95Us = 0;
};

Figures figuresOf(std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    Figures f;
    qint64 total = 0;
    for (const qint64 n : ns)
        total += n;
    f.meanUs = double(total) / double(ns.size()) / 1000.0;
    f.medianUs = double(ns[ns.size() / 2]) / 1000.0;
    f.p95Us = double(ns[ns.size() * 95 / 100]) / 1000.0;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const int records = argc > 2 ? std::max(10, atoi(argv[2])) : 200;
    QTemporaryDir dir(folder + QStringLiteral("/record-sync-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "record_sync_bench: no folder can be made in %s\n", qPrintable(folder));
        return 1;
    }

    // Through the program's record file: write and fsync per record.
    RecordFile file;
    QString error;
    if (!file.open(dir.filePath(QStringLiteral("synced.csv")), {}, error)) {
        std::fprintf(stderr, "record_sync_bench: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<qint64> synced;
    QElapsedTimer timer;
    for (int i = 0; i < records; ++i) {
        timer.start();
        if (!file.appendWhole(kRecord, error)) {
            std::fprintf(stderr, "record_sync_bench: %s\n", qPrintable(error));
            return 1;
        }
        synced.push_back(timer.nsecsElapsed());
    }

    // The same appends without the sync.
    const int fd = ::open(QFile::encodeName(dir.filePath(QStringLiteral("plain.csv"))).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return 1;
    std::vector<qint64> plain;
    for (int i = 0; i < records; ++i) {
        timer.start();
        if (::write(fd, kRecord.constData(), size_t(kRecord.size())) != kRecord.size())
            return 1;
        plain.push_back(timer.nsecsElapsed());
    }
    ::close(fd);

    const Figures s = figuresOf(synced);
    const Figures p = figuresOf(plain);
    std::printf("%d records of %d bytes in %s\n", records, int(kRecord.size()), qPrintable(folder));
    std::printf("write + fsync: mean %.0f us, median %.0f us, 95th percentile %.0f us per record\n", s.meanUs,
                s.medianUs, s.p95Us);
    std::printf("write alone:   mean %.1f us, median %.1f us, 95th percentile %.1f us per record\n", p.meanUs,
                p.medianUs, p.p95Us);
    std::printf("the sync costs %.2f ms per record (mean)\n", (s.meanUs - p.meanUs) / 1000.0);
    return 0;
}
