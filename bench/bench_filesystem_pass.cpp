// The file-system pass alone, timed: bench-filesystem-pass FAT32|NTFS IMAGE
// [ROUNDS]. Prints the fastest round's seconds and what the pass found, so
// that bench/fat32_pass.sh can set it beside `fls -r` on the same image.
#include "disk/CFileVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CFileNode.h"
#include "scan/CNotifyFileNode.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-filesystem-pass FAT32|NTFS IMAGE [ROUNDS]\n");
        return 2;
    }
    const QString fs = QString::fromLocal8Bit(argv[1]);
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(QString::fromLocal8Bit(argv[2]));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    double best = 1e9;
    long live = 0;
    long deleted = 0;
    for (int r = 0; r < rounds; ++r) {
        CNotifyFileNode relay;
        live = 0;
        deleted = 0;
        // Counted on this thread as they are posted, as the worker's relay
        // would queue them.
        QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), [&](long long, int) { ++live; });
        QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [&](const CFileNode&) { ++deleted; });
        QElapsedTimer timer;
        timer.start();
        if (fs == QLatin1String("NTFS")) {
            CNtfsScanner scanner(volume.get(), &relay);
            scanner.scan();
        } else {
            CFat32Scanner scanner(volume.get(), &relay);
            scanner.scan();
        }
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    std::printf("%.4f %ld %ld\n", best, live, deleted);
    return 0;
}
