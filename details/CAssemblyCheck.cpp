#include "details/CAssemblyCheck.h"

#include "details/CDetailsReader.h"
#include "details/COleDetailsReader.h"
#include "details/CPdfDetailsReader.h"
#include "details/CZipDetailsReader.h"
#include "scan/CDocumentBytes.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace {

bool isZipFamily(const QString& type)
{
    return type == QLatin1String("ZIP") || type == QLatin1String("DOCX") || type == QLatin1String("XLSX")
        || type == QLatin1String("PPTX");
}

} // namespace

CFileNode CAssemblyCheck::nodeOf(const QString& typeName, const QVector<CFileNode::Extent>& pieces)
{
    CFileNode node;
    node.typeName = typeName;
    int64_t size = 0;
    for (const CFileNode::Extent& e : pieces) {
        if (e.length <= 0 || e.length > std::numeric_limits<int64_t>::max() - size)
            return CFileNode(); // size 0: nothing to read
        size += e.length;
    }
    node.size = size;
    node.extents = pieces;
    if (!pieces.isEmpty() && pieces.first().offset >= 0)
        node.startSector = static_cast<quint64>(pieces.first().offset / 512);
    return node;
}

CDocumentDetails CAssemblyCheck::check(IVolume* volume, const QString& typeName,
                                       const QVector<CFileNode::Extent>& pieces, const CDetailsBudget& budget,
                                       const std::atomic<bool>* cancel)
{
    const CFileNode node = nodeOf(typeName, pieces);
    if (node.size <= 0) {
        CDocumentDetails d;
        d.examined = true;
        d.integrity = CDocumentDetails::IntegrityDamaged;
        d.integrityReason = tr("the pieces hold no bytes");
        return d;
    }
    return prove(typeName, node.size, budget, [&]() {
        auto bytes = std::make_unique<CDocumentBytes>(volume, node, budget.readBytes);
        bytes->setCancelFlag(cancel);
        return bytes;
    });
}

CDocumentDetails CAssemblyCheck::checkBytes(const QByteArray& document, const QString& typeName,
                                            const CDetailsBudget& budget)
{
    return prove(typeName, document.size(), budget,
                 [&]() { return std::make_unique<CDocumentBytes>(document, budget.readBytes); });
}

CDocumentDetails CAssemblyCheck::prove(const QString& typeName, int64_t size, const CDetailsBudget& budget,
                                       const std::function<std::unique_ptr<CDocumentBytes>()>& open)
{
    CDocumentDetails d;
    d.examined = true;
    if (size <= 0) {
        d.integrity = CDocumentDetails::IntegrityDamaged;
        d.integrityReason = tr("the pieces hold no bytes");
        return d;
    }
    d = CDetailsReader::read(*open(), typeName.toUpper(), budget);
    if (d.integrity != CDocumentDetails::IntegrityWhole)
        return d;
    // A whole archive tolerates bytes after its end record (a carved
    // stretch may run on); an assembly must end exactly there, at offset 0
    // of the archive, or it holds bytes that are not the document's.
    if (typeName.toUpper() == QLatin1String("PDF")) {
        // Between the objects the offsets place, only the streams' own
        // checks tell the assembled bytes from others; and the assembly
        // ends with the end-of-file marker's line.
        const std::unique_ptr<CDocumentBytes> again = open();
        QString reason;
        constexpr int kTail = 16;
        const QByteArray tail = again->bytes(std::max<int64_t>(0, size - kTail), std::min<int64_t>(kTail, size));
        const int eof = tail.lastIndexOf("%%EOF");
        if (eof < 0 || !tail.mid(eof + 5).trimmed().isEmpty()) {
            d.integrity = CDocumentDetails::IntegrityDamaged;
            d.integrityReason = tr("the document does not end where its pieces end");
        } else if (!CPdfDetailsReader::checkStreams(*again, budget, &reason)) {
            d.integrity = reason.isEmpty() ? CDocumentDetails::IntegrityUnchecked : CDocumentDetails::IntegrityDamaged;
            d.integrityReason = reason.isEmpty() ? tr("too large to check within the budget") : reason;
        }
        return d;
    }
    const QString type = typeName.toUpper();
    if (type == QLatin1String("DOC") || type == QLatin1String("XLS") || type == QLatin1String("PPT")) {
        // Tables and chains say nothing of the sectors' bytes: each stream's
        // contents must hold together too.
        const std::unique_ptr<CDocumentBytes> again = open();
        QString reason;
        if (!COleDetailsReader::checkRecords(*again, budget, &reason)) {
            d.integrity = CDocumentDetails::IntegrityDamaged;
            d.integrityReason = reason;
        }
        return d;
    }
    if (isZipFamily(type)) {
        const std::unique_ptr<CDocumentBytes> again = open();
        CZipDetailsReader::Directory dir;
        QString reason;
        if (!CZipDetailsReader::readDirectory(*again, budget, &dir, &reason) || dir.base != 0 || dir.end != size) {
            d.integrity = CDocumentDetails::IntegrityDamaged;
            d.integrityReason = tr("the archive does not end where its pieces end");
        }
    }
    return d;
}
