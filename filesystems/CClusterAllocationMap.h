#pragma once

#include "filesystems/CAllocationTableCache.h"
#include "filesystems/IAllocationMap.h"

#include <cstdint>
#include <memory>
#include <vector>

class IVolume;

// The allocation map of a file system that allocates whole clusters laid
// end to end from `dataStart`: cluster `firstCluster` begins there, and
// every cluster up to `lastCluster` follows it. What the table says about
// each cluster is the subclass's business (a FAT entry, a bit).
class CClusterAllocationMap : public IAllocationMap
{
public:
    struct Layout
    {
        int64_t dataStart = 0;     // byte offset of the first cluster
        int64_t clusterBytes = 0;
        uint64_t firstCluster = 0; // number of the cluster at dataStart
        uint64_t lastCluster = 0;  // the highest cluster the map answers for
    };

    bool inUse(int64_t offset) const override;
    int64_t bytesInUse(int64_t offset, int64_t length) const override;

    const Layout& layout() const { return m_layout; }
    // The number of the cluster holding `offset`, false when none does.
    bool clusterAt(int64_t offset, uint64_t& cluster) const;
    // Whether the table marks that cluster in use (false outside the map).
    bool clusterInUse(uint64_t cluster) const;

protected:
    // `layout` is made consistent: a cluster size of 0, or a last cluster
    // before the first, leaves a map that marks nothing.
    CClusterAllocationMap(std::shared_ptr<IVolume> volume, std::vector<CAllocationTableCache::Run> tableRuns,
                          const Layout& layout);

    // Clusters in use among `count` clusters from `first`, all inside the
    // map.
    virtual uint64_t countInUse(uint64_t first, uint64_t count) const = 0;

    CAllocationTableCache m_table;

private:
    Layout m_layout;
    int64_t m_dataEnd = 0;
};
