#pragma once

#include "scan/CFileNode.h"

#include <atomic>
#include <cstdint>
#include <vector>

class CFreeSpaceRuns;
class IVolume;

// Carries a carved document on past the bytes in use that cut it.
//
// A file is most often split by being written around files that were there
// before: its next piece lies just past the clusters they hold, or past the
// file system's own blocks (a backup superblock, group descriptors, a FAT
// copy). A pass over unused space sees such a document run into bytes it
// does not read and posts it as cut (CSignatureCarver::setReportCuts). Here
// the document is read again from its first byte, through the stretches of
// unused space that follow, one after the other (every gap between them is
// in use, never free space), as the carving pass would have read it had
// the bytes in use not been there. The document that a fresh carver finds at
// its first byte in that stream is kept only when its bytes, read along the
// pieces, pass every check its format allows (CAssemblyCheck);
// otherwise the record the cut carried (a PDF at its candidate end) is kept,
// or nothing, as before.
//
// Bounded: at most kMaxPieces pieces, kMaxReach bytes read past the cut, a
// first piece of at most kMaxFirstPiece, and a read budget for all cuts of
// one scan.
class CRunContinuation
{
public:
    static constexpr int kMaxPieces = 16;
    static constexpr int64_t kMaxReach = int64_t(64) << 20;
    static constexpr int64_t kMaxFirstPiece = int64_t(1) << 30;
    // Reading again and checking, for all cuts of a scan: a few seconds of
    // a disk at most, after the pass.
    static constexpr int64_t kDefaultBudget = int64_t(1) << 30;

    // `runs` over the scan's allocation maps; both must outlive this.
    CRunContinuation(IVolume* volume, const CFreeSpaceRuns& runs, const std::atomic<bool>* running = nullptr);

    // `cut` as CSignatureCarver posts it. Sets `record` to what is to be
    // posted for it (the document carried on, proven whole; else the record
    // the cut carried) and returns true, or false when nothing is.
    bool resolve(const CFileNode& cut, CFileNode& record);

    // The cut's own record (false when it carried none): what is posted
    // without trying, after a stop.
    static bool fallbackOf(const CFileNode& cut, CFileNode& record);

    void setBudget(int64_t bytes) { m_budget = bytes; }
    int64_t bytesRead() const { return m_read; }
    // Cuts carried on and proven whole so far.
    int continued() const { return m_continued; }

private:
    struct Piece
    {
        int64_t offset = 0;
        int64_t length = 0;
    };
    // The stretches the document may lie in, from its first byte on.
    std::vector<Piece> piecesFrom(int64_t start, int64_t firstEnd) const;
    // The document the carving of those pieces finds at its first byte, as
    // a record with their extents; false when none is found.
    bool carveAlong(const std::vector<Piece>& pieces, int64_t startByte, CFileNode& found);
    bool stopped() const { return m_running && !m_running->load(); }

    IVolume* m_volume;
    const CFreeSpaceRuns& m_runs;
    const std::atomic<bool>* m_running;
    int64_t m_budget = kDefaultBudget;
    int64_t m_read = 0;
    int m_continued = 0;
    std::vector<uint8_t> m_buffer;
};
