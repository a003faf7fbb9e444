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

constexpr uint32_t kFat32Bits = 32;

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
    , m_width(geometry.width())
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
    if (m_width.bits() != kFat32Bits)
        return narrowEntry(cluster, value);
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

bool CFatAllocationMap::narrowEntry(uint64_t cluster, uint32_t& value) const
{
    if (cluster >= m_width.entries(m_table.length()))
        return false;
    // A FAT12 entry may straddle two of the cache's blocks: its bytes are
    // gathered one look-up at a time.
    uint8_t bytes[2] = {0, 0};
    const int64_t at = m_width.byteOffset(cluster);
    int64_t got = 0;
    while (got < m_width.bytesPerRead()) {
        int64_t taken = 0;
        const bool inTable = m_table.withBytes(at + got, [&](const uint8_t* b, int64_t available) {
            taken = std::min<int64_t>(available, m_width.bytesPerRead() - got);
            for (int64_t i = 0; i < taken; ++i)
                bytes[got + i] = b[i];
        });
        if (!inTable || taken <= 0)
            return false;
        got += taken;
    }
    value = m_width.decode(bytes, cluster);
    return true;
}

bool CFatAllocationMap::next(uint64_t cluster, uint32_t& value) const
{
    return entry(cluster, value) && value != kFatFree && value != kFatBad && value < kFatFirstEnd;
}

uint64_t CFatAllocationMap::countInUse(uint64_t first, uint64_t count) const
{
    uint64_t used = 0;
    if (m_width.bits() != kFat32Bits) {
        // At most 65524 clusters: one look-up each.
        uint32_t value = 0;
        for (uint64_t cluster = first; cluster < first + count && narrowEntry(cluster, value); ++cluster) {
            if (value != kFatFree && (!m_reached || value == kFatBad || m_reached->contains(cluster)))
                ++used;
        }
        return used;
    }
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
    if (m_width.bits() != kFat32Bits) {
        uint64_t cluster = first;
        uint32_t value = 0;
        for (; cluster < end; ++cluster) {
            // Past the FAT: free.
            if (!narrowEntry(cluster, value))
                return used ? cluster - first : end - first;
            if ((value != kFatFree) != used)
                break;
        }
        return cluster - first;
    }
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
