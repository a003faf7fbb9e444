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

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;
};
