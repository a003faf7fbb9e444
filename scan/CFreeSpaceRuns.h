#pragma once

#include <cstdint>

class IAllocationMap;

// The stretches of a source that the carving pass reads when it leaves out
// what live files hold: every byte the allocation map does not mark in use
// (free clusters, lost chains that no live file reaches, the reserved
// sectors and tables, the tail past the last cluster, the gaps between the
// partitions of a whole disk), as long ascending runs.
//
// A stretch in use shorter than the read-through length is read with the
// free bytes around it: skipping it saves less than the disk loses when its
// stream stops (a seek, a new request), so the run goes on over it.
//
// Nothing is kept but the map: each run is found when asked for, by asking
// the map how many bytes of ever longer stretches are in use and narrowing
// down on the 512-byte grid where that changes, so a volume of any size
// costs a few words of memory (the map caches its own table blocks). The
// same map always gives the same runs, which is what lets a scan that was
// cut short go on from a byte offset: the runs after it are the ones it
// would have read.
class CFreeSpaceRuns
{
public:
    struct Run
    {
        int64_t offset = 0;
        int64_t length = 0;
        int64_t end() const { return offset + length; }
    };

    struct Totals
    {
        int64_t bytes = 0;  // in all runs
        int64_t before = 0; // in runs before the offset asked about
        int64_t runs = 0;
    };

    // The grid on which runs begin and end: one sector.
    static constexpr int64_t kUnit = 512;
    // 1 MiB: at 150 MB/s a disk reads it in about the time of one seek.
    static constexpr int64_t kDefaultReadThrough = int64_t(1) << 20;

    // `map` in source offsets (it must outlive this object), `sourceLength`
    // the source's bytes. `readThrough` is rounded up to the grid.
    CFreeSpaceRuns(const IAllocationMap& map, int64_t sourceLength, int64_t readThrough = kDefaultReadThrough);

    // The run that holds `from` (taken down to the grid), cut to begin
    // there, or else the first run after it; false when none is left.
    bool next(int64_t from, Run& run) const;

    // The stretch that no live file holds which begins at `from` (taken
    // down to the grid), or else the first one after it, as far as it goes:
    // what of a run may be carved, since a run also reads through short
    // stretches in use. False when none is left.
    bool nextUnused(int64_t from, Run& run) const;

    // One walk over every run: their bytes, and those before `offset`.
    Totals totals(int64_t offset = 0) const;

    int64_t sourceLength() const { return m_length; }

private:
    // The first offset from `from` on whose use differs from `used`
    // (on the grid), or the source's end.
    int64_t nextChange(int64_t from, bool used) const;
    // Whether [offset, offset + length) is all in use (`used`) or all not.
    bool uniform(int64_t offset, int64_t length, bool used) const;

    const IAllocationMap& m_map;
    int64_t m_length;
    int64_t m_readThrough;
};
