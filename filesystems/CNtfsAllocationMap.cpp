#include "filesystems/CNtfsAllocationMap.h"

#include <algorithm>
#include <limits>

namespace {

// The runs cut to the bitmap's real size: the slack of its last cluster is
// not part of it.
std::vector<CAllocationTableCache::Run> cut(std::vector<CAllocationTableCache::Run> runs, int64_t bytes)
{
    std::vector<CAllocationTableCache::Run> kept;
    int64_t left = std::max<int64_t>(bytes, 0);
    for (CAllocationTableCache::Run run : runs) {
        if (left <= 0 || run.length <= 0)
            break;
        run.length = std::min(run.length, left);
        left -= run.length;
        kept.push_back(run);
    }
    return kept;
}

CClusterAllocationMap::Layout layoutOf(int64_t bitmapBytes, int64_t clusterBytes, uint64_t clusters)
{
    CClusterAllocationMap::Layout l;
    l.dataStart = 0;
    l.clusterBytes = clusterBytes;
    l.firstCluster = 0;
    const uint64_t bits = bitmapBytes > 0 && static_cast<uint64_t>(bitmapBytes) < std::numeric_limits<uint64_t>::max() / 8
        ? static_cast<uint64_t>(bitmapBytes) * 8
        : 0;
    const uint64_t n = std::min(bits, clusters);
    if (n == 0)
        l.clusterBytes = 0; // nothing to answer for
    else
        l.lastCluster = n - 1;
    return l;
}

} // namespace

CNtfsAllocationMap::CNtfsAllocationMap(std::shared_ptr<IVolume> volume,
                                       std::vector<CAllocationTableCache::Run> bitmapRuns, int64_t bitmapBytes,
                                       int64_t clusterBytes, uint64_t clusters)
    : CClusterAllocationMap(std::move(volume), cut(std::move(bitmapRuns), bitmapBytes),
                            layoutOf(bitmapBytes, clusterBytes, clusters))
{
}

uint64_t CNtfsAllocationMap::countInUse(uint64_t first, uint64_t count) const
{
    uint64_t used = 0;
    uint64_t cluster = first;
    const uint64_t end = first + count;
    while (cluster < end) {
        const uint64_t byte = cluster / 8;
        if (byte > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            break;
        uint64_t taken = 0;
        m_table.withBytes(static_cast<int64_t>(byte), [&](const uint8_t* bytes, int64_t available) {
            // Bits from `cluster` to the end of the bytes at hand or of the
            // range, whichever comes first.
            const uint64_t reach = std::min<uint64_t>((byte + static_cast<uint64_t>(available)) * 8, end);
            uint64_t c = cluster;
            while (c < reach) {
                const uint8_t value = bytes[c / 8 - byte];
                if ((c % 8) == 0 && reach - c >= 8) {
                    used += static_cast<uint64_t>(__builtin_popcount(value));
                    c += 8;
                } else {
                    used += (value >> (c % 8)) & 1u;
                    ++c;
                }
            }
            taken = reach - cluster;
        });
        if (taken == 0)
            break; // past the bitmap: free
        cluster += taken;
    }
    return used;
}
