#pragma once

#include "filesystems/CClusterAllocationMap.h"
#include "filesystems/CClusterBitSet.h"
#include "filesystems/CFatGeometry.h"

#include <memory>

// The allocation map of a FAT volume: a cluster is in use when its entry
// in the first FAT is not zero (part of a chain, its end, or marked bad).
//
// Given the clusters that the directory walk reached (every live file's and
// directory's chain), a cluster whose entry is not zero but that no walk
// reached is orphaned (a lost chain: allocated, owned by no entry) and not
// in use; bad clusters stay in use. Without them the table is taken as it
// is.
class CFatAllocationMap : public CClusterAllocationMap
{
public:
    // `geometry` as CFatGeometry::decode() gave it for `volume`.
    CFatAllocationMap(std::shared_ptr<IVolume> volume, const CFatGeometry& geometry,
                      std::shared_ptr<const CClusterBitSet> reached = nullptr);

    bool orphaned(int64_t offset) const override;

    // The FAT entry of `cluster` (on FAT32 its low 28 bits; FAT12's and
    // FAT16's bad and end marks given as FAT32's); false when the FAT has
    // no such entry.
    bool entry(uint64_t cluster, uint32_t& value) const;
    // The cluster that follows `cluster` in its chain; false when its
    // entry is free, bad, an end of chain, or missing.
    bool next(uint64_t cluster, uint32_t& value) const;

    // How many clusters from `first` on (at most `limit`, and not past the
    // map) are all in use (`used`) or all free, read a table block at a
    // time: the long runs of a volume cost no more than their FAT bytes.
    // It reads the table as it is, reached clusters or not.
    uint64_t runLength(uint64_t first, uint64_t limit, bool used) const;

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;

private:
    // entry() for FAT12 and FAT16.
    bool narrowEntry(uint64_t cluster, uint32_t& value) const;

    std::shared_ptr<const CClusterBitSet> m_reached;
    CFatEntryWidth m_width;
};
