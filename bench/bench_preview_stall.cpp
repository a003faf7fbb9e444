// The window's longest stall while a preview loads: build/bin/bench-preview-stall TYPE FILE [ROUNDS]
// (bench/preview.sh). A preview pane is asked for FILE's preview (the whole
// file as the document, carved from sector 0) while a 1 ms timer ticks on
// the interface thread; the longest gap between ticks from the request to
// the preview shown is the stall, printed with the time to the preview.
#include "app/CPreviewPane.h"
#include "disk/CFileVolume.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-preview-stall TYPE FILE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    std::shared_ptr<IVolume> volume(CFileVolume::open(QString::fromLocal8Bit(argv[2])));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    CFileNode node;
    node.typeName = QString::fromLatin1(argv[1]);
    node.size = volume->length();
    CPreviewPane pane;
    pane.resize(360, 480);
    pane.show();
    double worstStall = 0, worstShown = 0;
    for (int i = 0; i <= rounds; ++i) {
        QElapsedTimer clock, sinceTick;
        double stall = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            stall = std::max(stall, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
        });
        QEventLoop loop;
        QObject::connect(&pane, &CPreviewPane::previewReady, &loop, &QEventLoop::quit);
        clock.start();
        sinceTick.start();
        ticker.start();
        pane.showDocument(volume, node);
        loop.exec();
        // The pixmap is painted after the signal: one more turn of the loop.
        QApplication::processEvents();
        stall = std::max(stall, sinceTick.nsecsElapsed() / 1e6);
        const double shown = clock.nsecsElapsed() / 1e6;
        if (pane.showing() == CPreviewPane::Showing::NoPreview) {
            std::fprintf(stderr, "no preview\n");
            return 1;
        }
        if (i > 0) { // the first round warms the cache and the helper's libraries
            worstStall = std::max(worstStall, stall);
            worstShown = std::max(worstShown, shown);
        }
    }
    std::printf("window: longest stall %.1f ms, slowest preview shown %.1f ms over %d rounds\n", worstStall,
                worstShown, rounds);
    return 0;
}
