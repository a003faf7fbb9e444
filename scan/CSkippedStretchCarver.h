#pragma once

#include "disk/CUnreadableRanges.h"

#include <atomic>
#include <cstdint>

class CFreeSpaceRuns;
class CNotifyFileNode;
class IVolume;

// Carves the documents that begin in stretches the raw pass skipped and
// its last pass read after all.
//
// The raw pass reads a failing disk good parts first: where a read fails it
// skips ahead, and the carver sees zeros there, so a document whose first
// bytes lay in such a stretch was never found. The last pass reads most of
// those stretches again (all but the bad sectors themselves); here each one
// it read is carved by a fresh carver from its first byte, and the carver
// follows on past the stretch only while a document that began inside it
// is open. Only documents that begin inside a stretch are posted: the rest
// the raw pass found already.
//
// Over unused space (`freeRuns` given) only what no live file holds is
// carved, as in the raw pass, and documents that run into bytes in use are
// posted as cut, to be carried on as the raw pass's are. Bounded: at most
// kMaxReach bytes past a stretch, and nothing after `running` turns false.
class CSkippedStretchCarver
{
public:
    static constexpr int64_t kMaxReach = int64_t(256) << 20;
    static constexpr int64_t kWindow = int64_t(4) << 20;

    // `unreadable`: what stays unreadable after the last pass (read as
    // zeros here, never asked of the disk again).
    CSkippedStretchCarver(IVolume* volume, const CFreeSpaceRuns* freeRuns, const CUnreadableRanges& unreadable);

    // Carves each stretch of `readLate` and posts to `relay`.
    void carve(const CUnreadableRanges& readLate, CNotifyFileNode* relay, const std::atomic<bool>* running);

    // Bytes read again for it so far (for tests and benchmarks).
    int64_t bytesRead() const { return m_bytesRead; }

private:
    // [offset, offset + length) into `out`, the unreadable bytes as zeros.
    void fill(uint8_t* out, int64_t offset, int64_t length);

    IVolume* m_volume;
    const CFreeSpaceRuns* m_freeRuns;
    CUnreadableRanges m_unreadable;
    int64_t m_bytesRead = 0;
};
