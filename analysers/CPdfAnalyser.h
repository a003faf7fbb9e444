#pragma once

#include "analysers/IAnalyser.h"

class CPdfEndMarkers;

// A PDF ends right after its last "%%EOF". Deleted files leave zeros behind
// their last byte, so the end is looked for in the first block that ends in
// four zero bytes and holds the marker: the last marker of that block (or
// one that began in the block before) ends the document.
//
// Real disks often keep older bytes after a file's end, and then no such
// block comes. So the analyser also remembers the last marker followed by
// a line end that it has seen (found by the carving pass's CPdfEndMarkers,
// once per block for all open PDFs) as a candidate end; the carving pass
// finishes it there when it learns that the document is over (the next
// document begins, or the volume ends).
class CPdfAnalyser : public IAnalyser
{
public:
    // `markers`, if given, is scanned by the carving pass over each block
    // before the block is offered to the analyser.
    explicit CPdfAnalyser(const CPdfEndMarkers* markers = nullptr)
        : m_markers(markers)
    {
    }

    static constexpr int kMarkerLength = 5; // "%%EOF"
    // How far before a block a marker may begin and still be found from it.
    static constexpr int kLookBack = 6;

    int identify(const uint8_t* firstBlock) override;
    bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes, int64_t blocksAfter,
                 int64_t offsetInBuffer) override;

    // Volume byte offset just past the candidate end marker, -1 if none.
    int64_t candidateEnd() const { return m_candidateEnd; }
    // Ends the document at its candidate end. False (and nothing changes)
    // when there is none.
    bool finishAtCandidate();

private:
    const CPdfEndMarkers* m_markers;
    int64_t m_candidateEnd = -1;
    int m_blockSize = 512;
    // The last bytes of the last block of the previous window: a marker
    // split across the window edge is still found from the next block.
    uint8_t m_edgeTail[kLookBack] = {};
    int64_t m_edgeTailBlock = -1;
};
