#include "filesystems/CBitmapAllocationMap.h"

#include <algorithm>
#include <limits>

CBitmapAllocationMap::CBitmapAllocationMap(std::shared_ptr<IVolume> volume,
                                           std::vector<CAllocationTableCache::Run> bitmapRuns, const Layout& layout,
                                           std::shared_ptr<const CClusterBitSet> reached)
    : CClusterAllocationMap(std::move(volume), std::move(bitmapRuns), layout)
    , m_reached(std::move(reached))
{
}

bool CBitmapAllocationMap::orphaned(int64_t offset) const
{
    uint64_t cluster = 0;
    return m_reached && clusterAt(offset, cluster) && countSet(cluster, 1, false) == 1 && !m_reached->contains(cluster);
}

uint64_t CBitmapAllocationMap::countInUse(uint64_t first, uint64_t count) const
{
    return countSet(first, count, m_reached != nullptr);
}

uint64_t CBitmapAllocationMap::countSet(uint64_t first, uint64_t count, bool reachedOnly) const
{
    uint64_t used = 0;
    const uint64_t base = layout().firstCluster;
    if (first < base)
        return 0;
    uint64_t bit = first - base;
    const uint64_t end = bit + count;
    while (bit < end) {
        const uint64_t byte = bit / 8;
        if (byte > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            break;
        uint64_t taken = 0;
        m_table.withBytes(static_cast<int64_t>(byte), [&](const uint8_t* bytes, int64_t available) {
            const uint64_t reach = std::min<uint64_t>((byte + static_cast<uint64_t>(available)) * 8, end);
            uint64_t b = bit;
            while (b < reach) {
                const uint8_t value = bytes[b / 8 - byte];
                if ((b % 8) == 0 && reach - b >= 8 && (!reachedOnly || value == 0)) {
                    used += static_cast<uint64_t>(__builtin_popcount(value));
                    b += 8;
                } else {
                    if (((value >> (b % 8)) & 1u) && (!reachedOnly || m_reached->contains(base + b)))
                        ++used;
                    ++b;
                }
            }
            taken = reach - bit;
        });
        if (taken == 0)
            break; // past the bitmap: free
        bit += taken;
    }
    return used;
}
