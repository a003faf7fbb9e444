// Time from asking for a document's preview to its reply, the document read
// off a warm volume: build/bin/bench-preview TYPE FILE [ROUNDS] (bench/preview.sh).
//
// FILE is opened as the volume and the document is the whole of it, carved
// from sector 0, so that its bytes come through the same reads as a found
// document's. The first round warms the page cache and the helper's
// libraries; the fastest and the median of the rest are printed, in
// milliseconds.
#include "disk/CFileVolume.h"
#include "preview/CDocumentPreview.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-preview TYPE FILE [ROUNDS]\n");
        return 2;
    }
    const QString type = QString::fromLatin1(argv[1]);
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    std::shared_ptr<IVolume> volume(CFileVolume::open(QString::fromLocal8Bit(argv[2])));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    CFileNode node;
    node.typeName = type;
    node.size = volume->length();
    node.startSector = 0;
    CDocumentPreview preview;
    std::vector<double> ms;
    for (int i = 0; i <= rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const CDocumentPreview::Result r = preview.preview(volume.get(), node);
        const double elapsed = timer.nsecsElapsed() / 1e6;
        if (!r.ok) {
            std::fprintf(stderr, "no preview: %s\n", qPrintable(r.failure));
            return 1;
        }
        if (i > 0)
            ms.push_back(elapsed);
        else
            std::printf("%s %lld bytes, %s sandbox, reply %s\n", argv[1], static_cast<long long>(node.size),
                        r.reducedSandbox ? "reduced" : "full",
                        r.reply.kind == CPreviewReply::Kind::Image ? "image" : "text");
    }
    std::sort(ms.begin(), ms.end());
    std::printf("preview: fastest %.1f ms, median %.1f ms over %d rounds\n", ms.front(), ms[ms.size() / 2], rounds);
    return 0;
}
