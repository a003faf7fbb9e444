#pragma once

#include <cstdint>

// Follows one candidate document through the blocks of the volume, in
// volume order, until it knows where the document ends.
//
// The carving pass opens an analyser at a block that carries a document's
// signature, asks identify() whether the block really starts one, writes
// the start block, and then offers the analyser its first block and every
// block after it, each exactly once. The first consume() that returns true
// makes length() and typeCode() final; the carving pass then reports the
// document (when it is long enough) and deletes the analyser.
//
// Analysers do no I/O. They see the volume only through the blocks they are
// handed, and never read outside the window those blocks belong to: the
// bytes from `block - offsetInBuffer` up to the end of the block
// `blocksAfter` blocks further on. A document the analyser has to give up
// on (damaged, or needing bytes that have already passed) finishes with a
// length of 0, which is never reported.
class IAnalyser
{
public:
    virtual ~IAnalyser() = default;

    // `firstBlock` points at a whole block (at least 512 bytes). Returns the
    // analyser's type code if the block starts a document it handles (and
    // keeps it as typeCode()), or 100 if not.
    virtual int identify(const uint8_t* firstBlock) = 0;

    // One block of the volume: `blockIndex` counts 512-byte blocks from the
    // start of the volume (the first call gets startBlock()),
    // `trailingZeroBytes` is 4 when the block's last four bytes are zero and
    // 0 otherwise, `blocksAfter` is the number of whole blocks after this
    // one in the same window and `offsetInBuffer` the block's byte offset
    // within that window. Returns true once the document's end is known.
    virtual bool consume(const uint8_t* block, int blockSize, int64_t blockIndex, int trailingZeroBytes,
                         int64_t blocksAfter, int64_t offsetInBuffer) = 0;

    // Length of the document in bytes; 0 until the analyser has finished.
    int64_t length() const { return m_length; }
    // Block where the document begins, written by the carving pass right
    // after identify() accepted it.
    int64_t startBlock() const { return m_startBlock; }
    void setStartBlock(int64_t block) { m_startBlock = block; }
    // Whether the finished document's own structure shows it whole (then
    // it counts even when it is very short).
    virtual bool structureComplete() const { return false; }
    // -1 until identify() sets it; an analyser may refine it as it reads.
    int typeCode() const { return m_typeCode; }

protected:
    int64_t m_length = 0;
    int64_t m_startBlock = 0;
    int m_typeCode = -1;
};
