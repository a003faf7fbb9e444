// The file-system pass alone, timed: bench-filesystem-pass
// FAT32|exFAT|EXT4|NTFS IMAGE [ROUNDS [--no-former]]. Prints the fastest
// round's seconds and what the pass found (live, deleted), so that
// bench/fs_pass.sh can set it beside `fls -r` on the same image. With
// --no-former the search for a formatted volume's old folders is left out
// (bench/formatted.sh times the pass with and without it). On FAT and
// exFAT the search looks at the carving pass's windows: the pass is timed
// with the volume shown to it in such windows, their reading off the clock.
#include "disk/CFileVolume.h"
#include "filesystems/CExfatScanner.h"
#include "filesystems/CExt4Scanner.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CFileNode.h"
#include "scan/CNotifyFileNode.h"
#include "scan/IWindowObserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-filesystem-pass FAT32|exFAT|EXT4|NTFS IMAGE [ROUNDS]\n");
        return 2;
    }
    const QString fs = QString::fromLocal8Bit(argv[1]);
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(QString::fromLocal8Bit(argv[2]));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    const bool former = !(argc > 4 && QLatin1String(argv[4]) == QLatin1String("--no-former"));
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
        qint64 offClock = 0;
        timer.start();
        // A pass that fails times nothing worth comparing: say so.
        auto run = [&](auto& scanner) {
            scanner.scan();
            if (!scanner.failure().isEmpty())
                std::fprintf(stderr, "the pass failed: %s\n", qPrintable(scanner.failure()));
        };
        // As in a scan: FAT's and exFAT's search for old folders looks at
        // the windows the carving pass reads anyway, then posts what it
        // found. What it adds is that look and what follows, not the
        // reading: the windows are shown as views of the image in the page
        // cache, made and given back off the clock.
        auto showWindows = [&](auto& scanner) {
            IWindowObserver* observer = scanner.formerObserver();
            if (!observer)
                return;
            const int64_t window = int64_t(32) << 20;
            const int64_t length = volume->length();
            std::vector<uint8_t> copy;
            for (int64_t at = 0; at < length; at += window) {
                const int64_t n = std::min(window, length - at);
                QElapsedTimer reading;
                reading.start();
                const uint8_t* view = volume->mapView(at, n);
                if (!view) {
                    copy.resize(static_cast<size_t>(n));
                    const IVolume::ReadResult got = volume->read(at, copy.data(), copy.size());
                    copy.resize(static_cast<size_t>(std::max<int64_t>(got.bytes, 0)));
                }
                offClock += reading.nsecsElapsed();
                observer->observeWindow(at, view ? view : copy.data(), view ? n : int64_t(copy.size()));
                reading.restart();
                if (view)
                    volume->releaseView(view, n);
                offClock += reading.nsecsElapsed();
            }
            scanner.finishFormer();
        };
        if (fs == QLatin1String("NTFS")) {
            CNtfsScanner scanner(volume.get(), &relay);
            scanner.setSearchFormerTable(former);
            run(scanner);
        } else if (fs == QLatin1String("exFAT")) {
            CExfatScanner scanner(volume.get(), &relay);
            scanner.setSearchFormer(former);
            scanner.setFormerFromWindows(true);
            run(scanner);
            showWindows(scanner);
        } else if (fs == QLatin1String("EXT4")) {
            CExt4Scanner scanner(volume.get(), &relay);
            run(scanner);
        } else {
            CFat32Scanner scanner(volume.get(), &relay);
            scanner.setSearchFormer(former);
            scanner.setFormerFromWindows(true);
            run(scanner);
            showWindows(scanner);
        }
        best = std::min(best, (timer.nsecsElapsed() - offClock) / 1e9);
    }
    std::printf("%.4f %ld %ld\n", best, live, deleted);
    return 0;
}
