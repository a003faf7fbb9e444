#pragma once

#include "details/CDetailsBudget.h"
#include "scan/CDocumentDetails.h"
#include "scan/CFileNode.h"

#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class CDocumentBytes;
class IVolume;

// Whether a document put together from pieces of the volume is the
// document: every check its format allows passes over the assembled bytes
// (every ZIP member's CRC-32 and the end record as its last bytes; a
// compound file's tables and chains; a PDF's cross-reference offsets and
// its Flate streams). Whoever proposes a continuation of a document (the
// search for a carved document's next piece, or a deleted file's clusters
// followed around blocks in use) asks this before calling it whole.
class CAssemblyCheck
{
    Q_DECLARE_TR_FUNCTIONS(CAssemblyCheck)

public:
    // The assembled document's details; integrity is IntegrityWhole only
    // when every check passed. `pieces` are byte runs of `volume` in
    // document order (the document is their concatenation); `typeName` as
    // in CFileNode ("DOCX", "XLS", "PDF", ...).
    static CDocumentDetails check(IVolume* volume, const QString& typeName, const QVector<CFileNode::Extent>& pieces,
                                  const CDetailsBudget& budget = CDetailsBudget::large(),
                                  const std::atomic<bool>* cancel = nullptr);
    static bool isWhole(IVolume* volume, const QString& typeName, const QVector<CFileNode::Extent>& pieces,
                        const CDetailsBudget& budget = CDetailsBudget::large(),
                        const std::atomic<bool>* cancel = nullptr)
    {
        return check(volume, typeName, pieces, budget, cancel).integrity == CDocumentDetails::IntegrityWhole;
    }

    // The same proof over an assembly already in memory: a search that
    // tries many clusters in one place of a small document fills them into
    // one buffer instead of reading every candidate through the volume.
    static CDocumentDetails checkBytes(const QByteArray& document, const QString& typeName,
                                       const CDetailsBudget& budget = CDetailsBudget::large());

    // The node that reads as the pieces' concatenation.
    static CFileNode nodeOf(const QString& typeName, const QVector<CFileNode::Extent>& pieces);

private:
    // Every check over the bytes `open` gives (a fresh reader for each
    // pass); `size` is the document's.
    static CDocumentDetails prove(const QString& typeName, int64_t size, const CDetailsBudget& budget,
                                  const std::function<std::unique_ptr<CDocumentBytes>()>& open);
};
