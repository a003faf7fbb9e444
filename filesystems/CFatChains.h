#pragma once

#include "filesystems/CClusterBitSet.h"
#include "scan/CFileNode.h"

#include <QVector>

#include <cstdint>
#include <memory>

class CFatAllocationMap;

// The chains of live entries in a FAT. Every cluster that a live file's or
// directory's chain reaches is marked, so that once the directory walk has
// run to its end, a cluster the FAT gives out but no walk reached belongs
// to a lost chain (CFatAllocationMap tells those apart as orphaned).
//
// Every chain is followed at most as many steps as the volume has
// clusters, and ends at its end mark, a free or bad entry, a cluster past
// the volume, or a cluster already reached (a loop, or two chains that
// cross).
class CFatChains
{
public:
    CFatChains(const CFatAllocationMap& fat, uint32_t highestCluster);

    // A cluster a live directory's chain holds.
    void markCluster(uint32_t cluster);
    // The chain of a live file from its first cluster.
    void markChain(uint32_t first);
    // The clusters reached so far; shared so that the allocation map may
    // keep them.
    std::shared_ptr<CClusterBitSet> reached() const { return m_reached; }

    // The data of a file whose chain starts at `first` (no cluster above
    // `lastCluster`), as runs of adjacent clusters until `size` bytes are
    // reached; `found` is how many they hold (fewer when the chain ends
    // first).
    QVector<CFileNode::Extent> extents(uint32_t first, int64_t size, uint64_t lastCluster, int64_t& found) const;

private:
    const CFatAllocationMap& m_fat;
    uint32_t m_highest;
    std::shared_ptr<CClusterBitSet> m_reached;
};
