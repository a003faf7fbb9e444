#include "filesystems/CFatAllocationMap.h"

#include "disk/LittleEndian.h"

#include <algorithm>

namespace {

constexpr uint32_t kFatEntryMask = 0x0FFFFFFF;
constexpr uint32_t kFatFree = 0;
constexpr uint32_t kFatBad = 0x0FFFFFF7;
constexpr uint32_t kFatFirstEnd = 0x0FFFFFF8;
constexpr int64_t kFatEntryBytes = 4;
constexpr uint64_t kFirstDataCluster = 2;

std::vector<CAllocationTableCache::Run> firstFat(const CFatGeometry& g)
{
    // Every product is below 2^16 * 2^12 and 2^32 * 2^12: no overflow.
    return {{static_cast<int64_t>(g.reservedSectors) * g.bytesPerSector,
             static_cast<int64_t>(g.sectorsPerFat) * g.bytesPerSector}};
}

CClusterAllocationMap::Layout layoutOf(const CFatGeometry& g)
{
    CClusterAllocationMap::Layout l;
    l.dataStart = static_cast<int64_t>(g.dataStartSector * g.bytesPerSector);
    l.clusterBytes = g.clusterBytes();
    l.firstCluster = kFirstDataCluster;
    l.lastCluster = g.highestCluster;
    return l;
}

} // namespace

CFatAllocationMap::CFatAllocationMap(std::shared_ptr<IVolume> volume, const CFatGeometry& geometry,
                                     std::shared_ptr<const CClusterBitSet> reached)
    : CClusterAllocationMap(std::move(volume), firstFat(geometry), layoutOf(geometry))
    , m_reached(std::move(reached))
{
}

bool CFatAllocationMap::orphaned(int64_t offset) const
{
    uint64_t cluster = 0;
    uint32_t value = 0;
    return m_reached && clusterAt(offset, cluster) && entry(cluster, value) && value != kFatFree && value != kFatBad
        && !m_reached->contains(cluster);
}

bool CFatAllocationMap::entry(uint64_t cluster, uint32_t& value) const
{
    if (cluster > static_cast<uint64_t>(m_table.length() / kFatEntryBytes))
        return false;
    bool got = false;
    m_table.withBytes(static_cast<int64_t>(cluster) * kFatEntryBytes, [&](const uint8_t* bytes, int64_t available) {
        if (available >= kFatEntryBytes) {
            value = le::u32(bytes) & kFatEntryMask;
            got = true;
        }
    });
    return got;
}

bool CFatAllocationMap::next(uint64_t cluster, uint32_t& value) const
{
    return entry(cluster, value) && value != kFatFree && value != kFatBad && value < kFatFirstEnd;
}

uint64_t CFatAllocationMap::countInUse(uint64_t first, uint64_t count) const
{
    uint64_t used = 0;
    uint64_t cluster = first;
    const uint64_t end = first + count;
    const uint64_t entries = static_cast<uint64_t>(m_table.length() / kFatEntryBytes);
    while (cluster < end && cluster < entries) {
        uint64_t taken = 0;
        m_table.withBytes(static_cast<int64_t>(cluster) * kFatEntryBytes, [&](const uint8_t* bytes, int64_t available) {
            taken = std::min<uint64_t>(static_cast<uint64_t>(available / kFatEntryBytes), end - cluster);
            for (uint64_t i = 0; i < taken; ++i) {
                const uint32_t value = le::u32(bytes + i * kFatEntryBytes) & kFatEntryMask;
                if (value != kFatFree && (!m_reached || value == kFatBad || m_reached->contains(cluster + i)))
                    ++used;
            }
        });
        if (taken == 0)
            break;
        cluster += taken;
    }
    return used;
}

uint64_t CFatAllocationMap::runLength(uint64_t first, uint64_t limit, bool used) const
{
    const Layout& l = layout();
    if (l.clusterBytes <= 0 || first < l.firstCluster || first > l.lastCluster)
        return 0;
    const uint64_t end = first + std::min(limit, l.lastCluster - first + 1);
    const uint64_t entries = static_cast<uint64_t>(m_table.length() / kFatEntryBytes);
    uint64_t cluster = first;
    bool broken = false;
    while (!broken && cluster < end) {
        if (cluster >= entries) {
            // Past the FAT: free.
            if (used)
                break;
            cluster = end;
            break;
        }
        uint64_t taken = 0;
        m_table.withBytes(static_cast<int64_t>(cluster) * kFatEntryBytes, [&](const uint8_t* bytes, int64_t available) {
            const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(available / kFatEntryBytes), end - cluster);
            for (; taken < n; ++taken) {
                const bool inUse = (le::u32(bytes + taken * kFatEntryBytes) & kFatEntryMask) != 0;
                if (inUse != used) {
                    broken = true;
                    break;
                }
            }
        });
        if (taken == 0 && !broken)
            break;
        cluster += taken;
    }
    return cluster - first;
}
