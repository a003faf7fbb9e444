#pragma once

#include "filesystems/CClusterAllocationMap.h"
#include "filesystems/CFat32Scanner.h"

#include <memory>

// The allocation map of a FAT32 volume: a cluster is in use when its entry
// in the first FAT is not zero (part of a chain, its end, or marked bad).
class CFatAllocationMap : public CClusterAllocationMap
{
public:
    // `geometry` as CFat32Scanner::decodeBootSector() gave it for `volume`.
    CFatAllocationMap(std::shared_ptr<IVolume> volume, const CFat32Scanner::Geometry& geometry);

    // The FAT entry of `cluster` (its low 28 bits); false when the FAT has
    // no such entry.
    bool entry(uint64_t cluster, uint32_t& value) const;

    // How many clusters from `first` on (at most `limit`, and not past the
    // map) are all in use (`used`) or all free, read a table block at a
    // time: the long runs of a volume cost no more than their FAT bytes.
    uint64_t runLength(uint64_t first, uint64_t limit, bool used) const;

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;
};
