#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// A volume as the engine sees it: a length and positioned reads, nothing
// else. There is deliberately no write operation anywhere in this
// interface: the volume being recovered is only ever read.
//
// Implementations must allow concurrent reads from several threads (the
// scan and a recovery may read the same volume at once); no read depends on
// a shared file position.
class IVolume
{
public:
    struct ReadResult
    {
        // Bytes placed in the buffer, counted from its start. Short only at
        // the end of the volume or when an error stopped the read.
        int64_t bytes = 0;
        // 0, or the errno of the failure that stopped the read early.
        int error = 0;
    };

    virtual ~IVolume() = default;

    // Reads up to `length` bytes at byte `offset`. Loops over short reads
    // and interrupted calls; returns early only at the end of the volume or
    // on an error.
    virtual ReadResult read(int64_t offset, void* buffer, size_t length) = 0;

    // The same read, for a stretch that a pass reads once, straight through
    // (the raw pass's windows): the volume may serve what is not in the
    // page cache from the device directly, so that the disk streams at its
    // own speed and the cache is not flooded with bytes read once.
    virtual ReadResult readOnce(int64_t offset, void* buffer, size_t length)
    {
        return read(offset, buffer, length);
    }

    // The same read, past every cache, for narrowing a failed read down to
    // the sectors that fail: a read through the page cache fails a whole
    // page (eight 512-byte sectors) for one bad sector. `offset` and
    // `length` on the sectorSize() grid.
    virtual ReadResult readExact(int64_t offset, void* buffer, size_t length)
    {
        return read(offset, buffer, length);
    }

    // The smallest unit the source reads or fails (the device's logical
    // sector).
    virtual int sectorSize() const { return 512; }

    // Whether the page cache holds [offset, offset + length), as far as a
    // sample of its pages tells: such a stretch is read from memory, so the
    // order of its reads does not matter even on a rotational disk.
    virtual bool cached(int64_t offset, int64_t length) const
    {
        (void)offset;
        (void)length;
        return false;
    }

    // A read-only view of [offset, offset + length) straight on the page
    // cache, for a stretch that the cache holds, so that a pass reads it in
    // place instead of copying it; null where that cannot be (then read()).
    // `offset` on the 4 KiB grid. What lies past the end of the volume reads
    // as zeros, as it does through read() callers, so the last window of a
    // pass is viewed too. A byte of the view that can no longer be read (the
    // source was cut short since, or the disk fails on a page that had left
    // the cache) reads as zero and is counted by viewLostBytes(). Each view
    // is given back with releaseView(), which returns that count.
    virtual const uint8_t* mapView(int64_t offset, int64_t length)
    {
        (void)offset;
        (void)length;
        return nullptr;
    }
    virtual int64_t viewLostBytes(const uint8_t* view) const
    {
        (void)view;
        return 0;
    }
    virtual int64_t releaseView(const uint8_t* view, int64_t length)
    {
        (void)view;
        (void)length;
        return 0;
    }

    // Length of the volume in bytes (0 when it cannot be known).
    virtual int64_t length() const = 0;

    // The name shown in messages: a path, or a label for a memory volume.
    virtual QString name() const = 0;

    // Whether the volume lies on a disk with moving heads, where reads that
    // step back cost a seek each. Unknown counts as no.
    virtual bool rotational() const { return false; }

    // Hints, never required for correctness: the whole volume is about to
    // be read from start to end; [offset, offset + length) is read next.
    virtual void adviseSequential() {}
    virtual void adviseWillNeed(int64_t offset, int64_t length)
    {
        (void)offset;
        (void)length;
    }
};
