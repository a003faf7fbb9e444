#include "filesystems/CFatChains.h"

#include "filesystems/CFatAllocationMap.h"
#include "filesystems/CFatGeometry.h"

#include <algorithm>

CFatChains::CFatChains(const CFatAllocationMap& fat, uint32_t highestCluster)
    : m_fat(fat)
    , m_highest(highestCluster)
    , m_reached(std::make_shared<CClusterBitSet>(static_cast<uint64_t>(highestCluster) + 1))
{
}

void CFatChains::markCluster(uint32_t cluster)
{
    m_reached->insert(cluster);
}

void CFatChains::markChain(uint32_t first)
{
    uint32_t cluster = first;
    // No more steps than clusters, and no cluster taken twice.
    for (uint32_t steps = 0; steps <= m_highest; ++steps) {
        if (cluster < CFatGeometry::kFirstDataCluster || cluster > m_highest || !m_reached->insert(cluster))
            return;
        uint32_t next = 0;
        if (!m_fat.next(cluster, next))
            return;
        cluster = next;
    }
}

QVector<CFileNode::Extent> CFatChains::extents(uint32_t first, int64_t size, uint64_t lastCluster,
                                               int64_t& found) const
{
    // Bounded by the clusters on the volume, and ended by anything that is
    // not a next cluster (a file cut short says so).
    const int64_t clusterBytes = m_fat.layout().clusterBytes;
    QVector<CFileNode::Extent> runs;
    found = 0;
    uint32_t cluster = first;
    for (uint32_t steps = 0; steps <= m_highest && found < size; ++steps) {
        if (cluster < CFatGeometry::kFirstDataCluster || cluster > lastCluster)
            break;
        const int64_t offset = m_fat.layout().dataStart
            + static_cast<int64_t>(cluster - CFatGeometry::kFirstDataCluster) * clusterBytes;
        const int64_t length = std::min(clusterBytes, size - found);
        if (!runs.isEmpty() && runs.back().offset + runs.back().length == offset)
            runs.back().length += length;
        else
            runs.append({offset, length});
        found += length;
        uint32_t next = 0;
        if (!m_fat.next(cluster, next))
            break;
        cluster = next;
    }
    return runs;
}
