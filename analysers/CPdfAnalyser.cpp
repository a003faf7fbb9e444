#include "analysers/CPdfAnalyser.h"

#include "analysers/CPdfEndMarkers.h"

#include "disk/LittleEndian.h"
#include "scan/CFileTypeCatalogue.h"

#include <cstring>

namespace {
constexpr uint32_t kPdfSignature = 0x46445025; // "%PDF"
const char kMarker[] = "%%EOF";
} // namespace

int CPdfAnalyser::identify(const uint8_t* firstBlock)
{
    if (!firstBlock || le::u32(firstBlock) != kPdfSignature)
        return CFileTypeCatalogue::NotWanted;
    m_typeCode = CFileTypeCatalogue::Pdf;
    return m_typeCode;
}

bool CPdfAnalyser::consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes,
                           int64_t blocksAfter, int64_t offsetInBuffer)
{
    if (!block || blockSize < kLookBack + 4 || blockIndex < m_startBlock)
        return false;
    if (blocksAfter == 0) {
        std::memcpy(m_edgeTail, block + blockSize - kLookBack, kLookBack);
        m_edgeTailBlock = blockIndex;
    }
    if (m_markers && m_markers->blockIndex() == blockIndex && m_markers->lastEnd() >= 0) {
        // Only a marker of this document: from its first byte on.
        const int64_t markerStart = m_markers->lastEnd() - kMarkerLength;
        if (markerStart >= m_startBlock * static_cast<int64_t>(blockSize))
            m_candidateEnd = m_markers->lastEnd();
    }
    m_blockSize = blockSize;
    if (trailingZeroBytes < 4)
        return false;

    // The bytes just before the block, when they belong to this document:
    // from the same window, or carried over from the previous one. Never
    // the bytes before the document's own first block, which are another
    // file's.
    uint8_t lead[kLookBack] = {};
    int lower = 0;
    if (blockIndex > m_startBlock) {
        if (offsetInBuffer >= kLookBack) {
            std::memcpy(lead, block - kLookBack, kLookBack);
            lower = -kLookBack;
        } else if (offsetInBuffer == 0 && m_edgeTailBlock == blockIndex - 1) {
            std::memcpy(lead, m_edgeTail, kLookBack);
            lower = -kLookBack;
        }
    }
    auto byteAt = [&](int i) -> uint8_t { return i >= 0 ? block[i] : lead[kLookBack + i]; };

    // Downwards from the first trailing zero: the first match is the last
    // marker. Position blockSize - 4 is zero, so a compared marker never
    // reaches past the block.
    for (int i = blockSize - 4; i >= lower; --i) {
        if (byteAt(i) == 0)
            continue;
        if (i > blockSize - kMarkerLength)
            continue;
        bool match = true;
        for (int k = 0; k < kMarkerLength; ++k) {
            if (byteAt(i + k) != static_cast<uint8_t>(kMarker[k])) {
                match = false;
                break;
            }
        }
        if (!match)
            continue;
        const int64_t endInBlock = i + kMarkerLength;
        m_length = endInBlock + static_cast<int64_t>(blockSize) * (blockIndex - m_startBlock);
        return true;
    }
    return false;
}

bool CPdfAnalyser::finishAtCandidate()
{
    if (m_candidateEnd < 0)
        return false;
    m_length = m_candidateEnd - m_startBlock * static_cast<int64_t>(m_blockSize);
    return true;
}
