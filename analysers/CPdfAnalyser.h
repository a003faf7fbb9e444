#pragma once

#include "analysers/IAnalyser.h"

// A PDF ends right after its last "%%EOF". Deleted files leave zeros behind
// their last byte, so the end is looked for in the first block that ends in
// four zero bytes and holds the marker: the last marker of that block (or
// one that began in the block before) ends the document.
class CPdfAnalyser : public IAnalyser
{
public:
    static constexpr int kMarkerLength = 5; // "%%EOF"
    // How far before a block a marker may begin and still be found from it.
    static constexpr int kLookBack = 6;

    int identify(const uint8_t* firstBlock) override;
    bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t blocksAfter,
                 int64_t offsetInBuffer) override;

private:
    // The last bytes of the last block of the previous window: a marker
    // split across the window edge is still found from the next block.
    uint8_t m_edgeTail[kLookBack] = {};
    int64_t m_edgeTailBlock = -1;
};
