#include "analysers/CPdfEndMarkers.h"

#include <cstring>

namespace {

const char kMarker[] = "%%EOF";

bool isLineEnd(uint8_t c)
{
    return c == '\r' || c == '\n';
}

} // namespace

void CPdfEndMarkers::scan(const uint8_t* block, int blockSize, int64_t blockIndex)
{
    const bool contiguous = m_blockIndex >= 0 && blockIndex == m_blockIndex + 1;
    const int64_t base = blockIndex * blockSize;
    m_lastEnd = -1;
    m_blockIndex = blockIndex;
    if (!block || blockSize < 2 * kCarry + 1)
        return;

    // Markers that began in the previous block: their line end is one of
    // this block's first bytes.
    if (contiguous) {
        uint8_t joined[2 * kCarry];
        std::memcpy(joined, m_carry, kCarry);
        std::memcpy(joined + kCarry, block, kCarry);
        for (int p = 0; p < kCarry; ++p) {
            if (std::memcmp(joined + p, kMarker, kMarkerLength) == 0 && isLineEnd(joined[p + kMarkerLength]))
                m_lastEnd = base - kCarry + p + kMarkerLength;
        }
    }

    // Markers wholly inside the block, their line end included.
    const int lastStart = blockSize - kMarkerLength - 1;
    int from = 0;
    while (from <= lastStart) {
        const void* hit = std::memchr(block + from, '%', static_cast<size_t>(lastStart - from + 1));
        if (!hit)
            break;
        const int p = static_cast<int>(static_cast<const uint8_t*>(hit) - block);
        if (std::memcmp(block + p, kMarker, kMarkerLength) == 0 && isLineEnd(block[p + kMarkerLength]))
            m_lastEnd = base + p + kMarkerLength;
        from = p + 1;
    }
    std::memcpy(m_carry, block + blockSize - kCarry, kCarry);
}
