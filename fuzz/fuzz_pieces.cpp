// The search for a broken document's pieces over an arbitrary volume: the
// input is the volume, a document of the chosen type starts at its first
// byte, and the clusters are 512 bytes (so that a few kilobytes hold a
// document cut into several pieces with gaps between them).
//
// The first input byte picks the type and whether the second half of the
// volume is owned by a whole document. Whatever the bytes, the search must
// end, and an assembly it calls whole must start where the document does,
// lie apart from itself and from what is owned, stay on the volume, and
// pass the assembly check again.
#include "details/CAssemblyCheck.h"
#include "details/CPieceSearch.h"
#include "disk/CMemoryVolume.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int options = data[0];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    CMemoryVolume volume(input);
    static const char* const types[] = {"DOCX", "ZIP", "XLS", "PDF"};
    CPieceSearch::Settings settings;
    settings.cluster = 512;
    settings.distance = 1 << 20;
    settings.maxCandidates = 256;
    settings.budget.readBytes = 1 << 20;
    settings.budget.inflatedBytes = 4 << 20;
    settings.budget.items = 20000;
    CPieceSearch search(&volume, settings);
    const int64_t half = input.size() / 2 / 512 * 512;
    if ((options & 4) && half > 0)
        search.setOwned({{half, input.size() - half}});
    search.indexAnchors({0});

    CFileNode node;
    node.typeName = QLatin1String(types[options & 3]);
    node.size = input.size();
    node.details.integrity = CDocumentDetails::IntegrityDamaged;
    node.details.integrityReason = QStringLiteral("broken");
    const CPieceSearch::Outcome o = search.reassemble(node);
    if (o.kind != CPieceSearch::Outcome::Whole)
        return 0;
    if (o.pieces.isEmpty() || o.pieces.first().offset != 0 || o.pieces.size() > settings.maxPieces)
        std::abort();
    for (int i = 0; i < o.pieces.size(); ++i) {
        const CFileNode::Extent& p = o.pieces[i];
        if (p.offset < 0 || p.length <= 0 || p.offset + p.length > input.size())
            std::abort();
        if ((options & 4) && half > 0 && p.offset + p.length > half)
            std::abort();
        for (int j = 0; j < i; ++j) {
            const CFileNode::Extent& q = o.pieces[j];
            if (p.offset < q.offset + q.length && q.offset < p.offset + p.length)
                std::abort();
        }
    }
    if (!CAssemblyCheck::isWhole(&volume, node.typeName, o.pieces, settings.budget))
        std::abort();
    return 0;
}
