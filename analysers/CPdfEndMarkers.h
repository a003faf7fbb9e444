#pragma once

#include <cstdint>

// Finds, once per block for every open PDF analyser at once, the "%%EOF"
// markers followed by an end of line. A marker counts in the block that
// holds its line end, so one cut by a block or window edge is found from
// the next block (the last bytes of each block scanned are carried over).
class CPdfEndMarkers
{
public:
    static constexpr int kMarkerLength = 5; // "%%EOF"

    // Scans one block (of at least 16 bytes). Blocks are scanned in volume
    // order; a block not scanned breaks the carry-over.
    void scan(const uint8_t* block, int blockSize, int64_t blockIndex);

    // The block last scanned.
    int64_t blockIndex() const { return m_blockIndex; }
    // Byte offset on the volume just past the last marker of that block
    // (the "F" of "%%EOF" + 1), or -1 when it holds none.
    int64_t lastEnd() const { return m_lastEnd; }

private:
    // The bytes before the line end: the marker itself.
    static constexpr int kCarry = kMarkerLength;

    uint8_t m_carry[kCarry] = {};
    int64_t m_blockIndex = -1;
    int64_t m_lastEnd = -1;
};
