// The details pass against the scan's own carving, in one run:
// bench-details-pass IMAGE [ROUNDS].
//
// Each round scans IMAGE as `tamsel-cli scan --fs none` does (the carving
// pass, the same tree builder) and notes its wall time; then reads the
// details of every listed document, one after another on this thread (the
// work CDetailsWorker does at idle priority while the scan runs, here timed
// alone so that the machine's other load cannot hide behind the idle
// class). Prints, for the fastest round of each: scan seconds, details
// seconds, documents, their ratio, and the details thread's CPU seconds.
#include "details/CDetailsReader.h"
#include "disk/CFileVolume.h"
#include "results/CCreateTreeNode.h"
#include "scan/CDocumentBytes.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CRecoveryControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-details-pass IMAGE [ROUNDS]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    double bestScan = 1e9;
    double bestDetails = 1e9;
    double bestCpu = 1e9;
    int documents = 0;
    int whole = 0;
    for (int r = 0; r < rounds; ++r) {
        std::shared_ptr<IVolume> volume(CFileVolume::open(path));
        if (!volume) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        CRecoveryControl control;
        CCreateTreeNode builder;
        QList<CFileNode> listed;
        QObject::connect(&builder, &CCreateTreeNode::documentListed,
                         [&listed](quint64, const CFileNode& node) { listed.append(node); });
        QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &builder,
                         qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
        QObject::connect(control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem), &builder,
                         qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
        QEventLoop loop;
        QObject::connect(&control, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QElapsedTimer timer;
        timer.start();
        if (!control.beginScan(volume, QString())) {
            std::fprintf(stderr, "the scan of %s did not start\n", argv[1]);
            return 1;
        }
        loop.exec();
        control.wait();
        QCoreApplication::sendPostedEvents();
        bestScan = std::min(bestScan, timer.nsecsElapsed() / 1e9);

        const CDetailsBudget budget;
        const CDetailsBudget large = CDetailsBudget::large();
        whole = 0;
        const double cpu0 = threadCpuSeconds();
        timer.restart();
        for (const CFileNode& node : listed) {
            CDocumentBytes bytes(volume.get(), node, budget.readBytes);
            bool larger = false;
            CDocumentDetails d = CDetailsReader::read(bytes, node.typeName, budget, &larger);
            if (larger) {
                CDocumentBytes again(volume.get(), node, large.readBytes);
                d = CDetailsReader::read(again, node.typeName, large);
            }
            whole += d.integrity == CDocumentDetails::IntegrityWhole ? 1 : 0;
        }
        bestDetails = std::min(bestDetails, timer.nsecsElapsed() / 1e9);
        bestCpu = std::min(bestCpu, threadCpuSeconds() - cpu0);
        documents = listed.size();
    }
    std::printf("scan %.4f s, details %.4f s (cpu %.4f s) for %d documents (%d whole): details/scan %.3f\n", bestScan,
                bestDetails, bestCpu, documents, whole, bestDetails / bestScan);
    return 0;
}
