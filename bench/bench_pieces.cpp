// The search for broken documents' pieces against the plain scan of the
// same image: bench-pieces IMAGE [ROUNDS].
//
// Each round scans IMAGE as `tamsel-cli scan --fs none` does and notes its
// wall time, reads every listed document's details on this thread, and
// then runs the search for pieces (CPiecesPass, as the details pass does
// once the scan has ended), timing the reading of the reach for anchors and
// each broken document's search. Prints, for the fastest round: the scan,
// the details, the anchor index and the search in total, their ratio to the
// scan, and one line per searched document that came back (type, sector,
// pieces, milliseconds).
#include "details/CDetailsReader.h"
#include "details/CPiecesPass.h"
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
#include <memory>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-pieces IMAGE [ROUNDS]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    double bestScan = 1e9, bestDetails = 1e9, bestIndex = 1e9, bestSearch = 1e9;
    QVector<CPiecesPass::Found> bestFound;
    int documents = 0;
    int broken = 0;
    for (int r = 0; r < rounds; ++r) {
        std::shared_ptr<IVolume> volume(CFileVolume::open(path));
        if (!volume) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        CRecoveryControl control;
        CCreateTreeNode builder;
        QList<QPair<quint64, CFileNode>> listed;
        QObject::connect(&builder, &CCreateTreeNode::documentListed,
                         [&listed](quint64 ticket, const CFileNode& node) { listed.append({ticket, node}); });
        QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &builder,
                         qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
        QObject::connect(control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem), &builder,
                         qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
        QEventLoop loop;
        QObject::connect(&control, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QElapsedTimer timer;
        timer.start();
        if (!control.beginScan(volume, QStringLiteral("none"))) {
            std::fprintf(stderr, "the scan of %s did not start\n", argv[1]);
            return 1;
        }
        loop.exec();
        control.wait();
        QCoreApplication::sendPostedEvents();
        bestScan = std::min(bestScan, timer.nsecsElapsed() / 1e9);

        const CDetailsBudget budget;
        const CDetailsBudget large = CDetailsBudget::large();
        CPiecesPass pass;
        timer.restart();
        broken = 0;
        for (const auto& entry : listed) {
            const CFileNode& node = entry.second;
            CDocumentBytes bytes(volume.get(), node, budget.readBytes);
            bool larger = false;
            CDocumentDetails d = CDetailsReader::read(bytes, node.typeName, budget, &larger);
            if (larger) {
                CDocumentBytes again(volume.get(), node, large.readBytes);
                d = CDetailsReader::read(again, node.typeName, large);
            }
            broken += d.integrity == CDocumentDetails::IntegrityDamaged && CPiecesPass::searchable(node.typeName);
            pass.note(entry.first, node, d);
        }
        bestDetails = std::min(bestDetails, timer.nsecsElapsed() / 1e9);
        documents = listed.size();

        timer.restart();
        double index = 0;
        const QVector<CPiecesPass::Found> found = pass.run(volume.get(), CPieceSearch::Settings(), nullptr, &index);
        const double search = timer.nsecsElapsed() / 1e9;
        if (search < bestSearch) {
            bestSearch = search;
            bestIndex = index;
            bestFound = found;
        }
    }
    int whole = 0;
    for (const CPiecesPass::Found& f : bestFound) {
        if (f.outcome.kind == CPieceSearch::Outcome::Contradicted)
            continue; // a compound document found to hold another's piece: no search of its own
        whole += f.outcome.kind == CPieceSearch::Outcome::Whole;
        std::printf("  %-5s sector %10llu  %-9s %d pieces  %8.2f ms%s\n", qPrintable(f.node.typeName),
                    static_cast<unsigned long long>(f.node.startSector),
                    f.outcome.kind == CPieceSearch::Outcome::Whole ? "whole" : "ambiguous", f.outcome.pieces.size(),
                    f.seconds * 1e3, f.newDocument ? "  (not listed by the carving)" : "");
    }
    std::printf("scan %.4f s, details %.4f s for %d documents; pieces: anchors %.4f s, search %.4f s in total for %d "
                "broken documents (%d found whole, %.2f ms each); search/scan %.3f\n",
                bestScan, bestDetails, documents, bestIndex, bestSearch, broken, whole,
                broken ? bestSearch * 1e3 / broken : 0.0, bestSearch / bestScan);
    return 0;
}
