// The NTFS file-system pass alone (live and deleted records, folders,
// $Bitmap look-ups) over an image: build/bin/bench-ntfs-pass IMAGE [ROUNDS].
// Prints each round's wall time in milliseconds and what the pass reported;
// bench/ntfs_mft_pass.sh sets it beside The Sleuth Kit's fls.
#include "disk/CFileVolume.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CNotifyFileNode.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-ntfs-pass IMAGE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(QString::fromLocal8Bit(argv[1]));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    for (int round = 0; round < rounds; ++round) {
        CNotifyFileNode relay;
        CNtfsScanner scanner(volume.get(), &relay);
        QElapsedTimer timer;
        timer.start();
        scanner.scan();
        std::printf("%lld ms, %d live, %d deleted\n", static_cast<long long>(timer.elapsed()), scanner.findings(),
                    scanner.deletedFindings());
    }
    return 0;
}
