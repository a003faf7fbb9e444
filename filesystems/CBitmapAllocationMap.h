#pragma once

#include "filesystems/CClusterAllocationMap.h"
#include "filesystems/CClusterBitSet.h"

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

    // Given the clusters that live entries reach (exFAT's directory walk),
    // a cluster whose bit is set but that none reaches is orphaned and not
    // in use; without them the bitmap is taken as it is.
    CBitmapAllocationMap(std::shared_ptr<IVolume> volume, std::vector<CAllocationTableCache::Run> bitmapRuns,
                         const Layout& layout, std::shared_ptr<const CClusterBitSet> reached = nullptr);

    bool orphaned(int64_t offset) const override;

protected:
    uint64_t countInUse(uint64_t first, uint64_t count) const override;

private:
    // Bits set among `count` clusters from `first`, reached or not.
    uint64_t countSet(uint64_t first, uint64_t count, bool reachedOnly) const;

    std::shared_ptr<const CClusterBitSet> m_reached;
};
