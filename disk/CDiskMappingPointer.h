#pragma once

#include "disk/CReadScheduler.h"
#include "disk/CWindowBuffer.h"

#include <cstdint>
#include <memory>

class IVolume;

// Presents the bytes of a volume through a large in-memory window.
//
// A window the page cache holds (in the main) is shown in place, through a
// read-only view of the volume (IVolume::mapView), rather than copied into
// a half: the copy was most of the cost of a scan on a warm cache.
//
// Opened at a byte offset X, the pointer shows the W bytes of the volume
// from X on. In sequential mode the reader keeps two halves: while a
// caller analyses the bytes of one half, nextWindow() fills the other
// with the following W bytes. Every read is a positioned read at the
// window's own offset, so several readers (a scan and a recovery) can share
// one volume without moving each other's reads.
//
// In sequential mode a window is read by several reads in flight (see
// CReadScheduler; strictly ascending on a rotational disk), and the kernel
// readahead of buffered reads keeps each stream ahead of itself.
//
// Bytes past the end of the volume read as zeros. Bytes the volume no longer
// has (it became shorter than its length at open) read as zeros too, and are
// counted as unreadable. Where a read fails, the reader keeps what it gave
// and skips ahead (see CReadScheduler): the bytes skipped become zeros and
// are listed as unreadable, so stale bytes of an earlier window are never
// presented as if they were on the disk, and lastPass() reads them again
// at the end. A device that has gone is remembered as lost.
class CDiskMappingPointer
{
public:
    // The allocation granularity this program uses for its windows, and the
    // window size derived from it (granularity x 512 = 32 MiB).
    static constexpr uint32_t kAllocationGranularity = 64 * 1024;
    static constexpr uint32_t kDefaultWindowSize = kAllocationGranularity * 512;
    static constexpr uint32_t kRetryPiece = CReadScheduler::kRetryPiece;

    // `windowSize` must be a positive multiple of 512; the default is the
    // usual W. Recovery passes smaller windows for small documents.
    CDiskMappingPointer(IVolume* volume, int64_t offset, uint32_t windowSize = kDefaultWindowSize);
    virtual ~CDiskMappingPointer();

    CDiskMappingPointer(const CDiskMappingPointer&) = delete;
    CDiskMappingPointer& operator=(const CDiskMappingPointer&) = delete;

    // The byte of the volume at the current position; W bytes follow it.
    const uint8_t* pointer() const { return m_half + m_offsetInWindow; }

    // `streams`: reads in flight per window (0: as suits the volume, one
    // stream in ascending order on a rotational disk).
    void beginSequential(int streams = 0);
    void nextWindow();
    // Like nextWindow(), but the next window shows the `length` bytes (at
    // most W) from `offset` on, for a pass that reads chosen stretches of
    // the volume in ascending order; what follows them in the window is
    // none of the volume's.
    void nextWindowAt(int64_t offset, int64_t length);
    void endSequential();

    // Position on a 0..1000 scale (0 when the length is unknown).
    int64_t progress() const;
    // True once the position is beyond the volume length.
    bool atEnd() const { return position() > m_length; }

    int64_t length() const { return m_length; }
    int64_t position() const { return m_windowBase + m_offsetInWindow; }
    uint32_t windowSize() const { return m_windowSize; }

    // Bytes inside the volume that could not be read and were zero-filled,
    // summed over the reader's life.
    int64_t unreadableBytes() const;
    // Where they lie (bytes lost under a view are listed once it is let go).
    CUnreadableRanges unreadableRanges() const;
    // Reads again what could not be read; see CReadScheduler::lastPass().
    int64_t lastPass(int64_t budgetMs, const std::function<bool()>& keepGoing = {},
                     const CReadScheduler::SectorSink& onRead = {});
    // The device went away (ENODEV/ENXIO); later windows hold zeros.
    bool deviceLost() const { return m_reader->deviceLost(); }
    // errno of the most recent read failure, 0 if none.
    int lastError() const { return m_reader->lastError(); }
    // The scheduler of the reads (how many in flight, in which order).
    const CReadScheduler& scheduler() const { return *m_reader; }
    CReadScheduler& scheduler() { return *m_reader; }

private:
    struct View
    {
        const uint8_t* data = nullptr;
        int64_t length = 0;
        int64_t offset = 0; // in the volume
    };

    uint8_t* halfAt(int index) const;
    void fill(uint8_t* destination, int64_t offset, int64_t length);
    // Shows the bytes from the window's base to `from + length` in `slot`:
    // a view on the page cache where the volume gives one for all of them,
    // else the slot's half, filled from `from` on. Returns where the
    // window's base lies.
    const uint8_t* show(int slot, int64_t from, int64_t length);
    void releaseView(int slot);

    IVolume* m_volume;
    uint32_t m_windowSize;
    uint32_t m_halfCapacity;
    // The two halves; the second is only allocated for sequential reading.
    CWindowBuffer m_halfBuffers[2];
    const uint8_t* m_half = nullptr;
    // Views in place of the halves, where the page cache held the window.
    View m_views[2];
    int64_t m_windowBase = 0;
    int64_t m_offsetInWindow = 0;
    int64_t m_length = 0;
    int m_nextHalf = 1;
    std::unique_ptr<CReadScheduler> m_reader;
};
