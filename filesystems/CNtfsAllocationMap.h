#pragma once

#include "filesystems/CClusterAllocationMap.h"

#include <memory>
#include <vector>

// The allocation map of an NTFS volume: bit n of $Bitmap (the data of MFT
// record 6) is set when cluster n is in use. Cluster 0 starts the volume.
class CNtfsAllocationMap : public CClusterAllocationMap
{
public:
    // `bitmapRuns`: where the bytes of $Bitmap lie on the volume, in file
    // order; `bitmapBytes`: its real size; `clusters`: clusters the volume
    // holds.
    CNtfsAllocationMap(std::shared_ptr<IVolume> volume, std::vector<CAllocationTableCache::Run> bitmapRuns,
                       int64_t bitmapBytes, int64_t clusterBytes, uint64_t clusters);

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;
};
