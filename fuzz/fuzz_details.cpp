// The details readers over arbitrary bytes: each document reader (PDF
// cross-reference, Info and XMP; compound document directory and
// SummaryInformation and the streams' contents; ZIP directory, core.xml through inflate and every
// member's CRC-32), and the parsers they share on their own.
//
// The first input byte picks the reader; the rest is the document, in
// memory (read whole, parsed in place) or behind a volume (read piece by
// piece, inflated as a stream). The
// budgets are smaller than the program's, so that each run stays quick, and
// every run checks that no reader fetched more than its budget.
#include "details/CDetailsReader.h"
#include "details/COleDetailsReader.h"
#include "details/CPdfDetailsReader.h"
#include "details/CXmlMetadata.h"
#include "disk/CMemoryVolume.h"
#include "scan/CDocumentBytes.h"

#include <QByteArray>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0] % 9;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    CDetailsBudget budget;
    budget.readBytes = 256 * 1024;
    budget.inflatedBytes = 4 << 20;
    budget.items = 20000;
    CDocumentDetails d;
    switch (mode) {
    case 0:
    case 1:
    case 2: {
        static const char* const types[] = {"PDF", "DOC", "DOCX"};
        CDocumentBytes bytes(input, budget.readBytes);
        d = CDetailsReader::read(bytes, QLatin1String(types[mode]), budget);
        if (bytes.bytesFetched() > budget.readBytes)
            std::abort();
        if (d.integrity == CDocumentDetails::IntegrityDamaged && d.integrityReason.isEmpty())
            std::abort(); // a damaged document always says why
        if (mode == 1) {
            // The streams' contents, as an assembly of pieces is proved.
            CDocumentBytes again(input, budget.readBytes);
            QString reason;
            if (!COleDetailsReader::checkRecords(again, budget, &reason) && reason.isEmpty())
                std::abort();
        }
        break;
    }
    case 6:
    case 7:
    case 8: {
        // The same readers over a document read piece by piece from a
        // volume, as one too large to read whole is.
        static const char* const types[] = {"PDF", "DOC", "DOCX"};
        budget.preloadBytes = 0;
        CMemoryVolume volume(input);
        CFileNode node;
        node.typeName = QLatin1String(types[mode - 6]);
        node.size = input.size();
        CDocumentBytes bytes(&volume, node, budget.readBytes);
        d = CDetailsReader::read(bytes, node.typeName, budget);
        if (bytes.bytesFetched() > budget.readBytes || bytes.inMemory())
            std::abort();
        if (d.integrity == CDocumentDetails::IntegrityDamaged && d.integrityReason.isEmpty())
            std::abort();
        break;
    }
    case 3:
        CPdfDetailsReader::readInfo(input, &d, budget.items);
        break;
    case 4:
        COleDetailsReader::readSummary(input, &d);
        break;
    default:
        CXmlMetadata::read(input, &d, budget.items);
        break;
    }
    return 0;
}
