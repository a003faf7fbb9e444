#include "filesystems/CClusterAllocationMap.h"

#include <algorithm>
#include <limits>

CClusterAllocationMap::CClusterAllocationMap(std::shared_ptr<IVolume> volume,
                                             std::vector<CAllocationTableCache::Run> tableRuns,
                                             const Layout& layout)
    : m_table(std::move(volume), std::move(tableRuns))
    , m_layout(layout)
{
    m_dataEnd = m_layout.dataStart;
    if (m_layout.clusterBytes <= 0 || m_layout.dataStart < 0 || m_layout.lastCluster < m_layout.firstCluster) {
        m_layout.clusterBytes = 0;
        return;
    }
    // The clusters past the end of int64_t offsets are no cluster at all.
    const uint64_t room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - m_layout.dataStart)
        / static_cast<uint64_t>(m_layout.clusterBytes);
    const uint64_t count = std::min(m_layout.lastCluster - m_layout.firstCluster + 1, room);
    if (count == 0) {
        m_layout.clusterBytes = 0;
        return;
    }
    m_layout.lastCluster = m_layout.firstCluster + count - 1;
    m_dataEnd = m_layout.dataStart + static_cast<int64_t>(count) * m_layout.clusterBytes;
}

bool CClusterAllocationMap::clusterAt(int64_t offset, uint64_t& cluster) const
{
    if (m_layout.clusterBytes <= 0 || offset < m_layout.dataStart || offset >= m_dataEnd)
        return false;
    cluster = m_layout.firstCluster + static_cast<uint64_t>((offset - m_layout.dataStart) / m_layout.clusterBytes);
    return true;
}

bool CClusterAllocationMap::clusterInUse(uint64_t cluster) const
{
    if (m_layout.clusterBytes <= 0 || cluster < m_layout.firstCluster || cluster > m_layout.lastCluster)
        return false;
    return countInUse(cluster, 1) == 1;
}

bool CClusterAllocationMap::inUse(int64_t offset) const
{
    uint64_t cluster = 0;
    return clusterAt(offset, cluster) && countInUse(cluster, 1) == 1;
}

int64_t CClusterAllocationMap::bytesInUse(int64_t offset, int64_t length) const
{
    if (length <= 0 || m_layout.clusterBytes <= 0)
        return 0;
    const int64_t end = offset > std::numeric_limits<int64_t>::max() - length ? std::numeric_limits<int64_t>::max()
                                                                              : offset + length;
    // Only the data area holds clusters.
    const int64_t a = std::max(offset, m_layout.dataStart);
    const int64_t b = std::min(end, m_dataEnd);
    if (a >= b)
        return 0;

    const int64_t cb = m_layout.clusterBytes;
    const uint64_t first = m_layout.firstCluster + static_cast<uint64_t>((a - m_layout.dataStart) / cb);
    const uint64_t last = m_layout.firstCluster + static_cast<uint64_t>((b - 1 - m_layout.dataStart) / cb);
    if (first == last)
        return countInUse(first, 1) ? b - a : 0;

    auto clusterStart = [&](uint64_t c) { return m_layout.dataStart + static_cast<int64_t>(c - m_layout.firstCluster) * cb; };
    int64_t total = 0;
    if (countInUse(first, 1))
        total += clusterStart(first) + cb - a;
    if (countInUse(last, 1))
        total += b - clusterStart(last);
    if (last - first > 1)
        total += static_cast<int64_t>(countInUse(first + 1, last - first - 1)) * cb;
    return total;
}
