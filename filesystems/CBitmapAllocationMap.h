#pragma once

#include "filesystems/CClusterAllocationMap.h"

#include <memory>
#include <vector>

// The allocation map of a file system that keeps one bit per cluster, set
// when the cluster is in use, bit 0 of byte 0 for the first cluster of the
// layout: exFAT's allocation bitmap (clusters from 2, at the cluster heap)
// and ext2/3/4's block bitmaps laid end to end, one group's bits after the
// other's (blocks from the first data block). The table runs say where
// those bytes lie; a run placed past every volume (kNowhere) reads as
// zeros, for the groups whose bitmap was never written.
class CBitmapAllocationMap : public CClusterAllocationMap
{
public:
    static constexpr int64_t kNowhere = int64_t(1) << 62;

    CBitmapAllocationMap(std::shared_ptr<IVolume> volume, std::vector<CAllocationTableCache::Run> bitmapRuns,
                         const Layout& layout);

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;
};
