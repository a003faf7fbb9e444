#include "filesystems/CFatGeometry.h"

#include "disk/LittleEndian.h"

#include <algorithm>

namespace {

constexpr size_t kBootSectorSize = 512;
constexpr size_t kBytesPerSectorField = 0x0B;
constexpr size_t kSectorsPerClusterField = 0x0D;
constexpr size_t kReservedSectorsField = 0x0E;
constexpr size_t kFatCountField = 0x10;
constexpr size_t kTotalSectors16Field = 0x13;
constexpr size_t kTotalSectors32Field = 0x20;
constexpr size_t kSectorsPerFat32Field = 0x24;
constexpr size_t kRootClusterField = 0x2C;

constexpr uint32_t kMinSectorSize = 512;
constexpr uint32_t kMaxSectorSize = 4096;
constexpr uint32_t kMaxSectorsPerCluster = 128;

constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
constexpr uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr uint32_t kFat32EntryBytes = 4;

bool isPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

} // namespace

bool CFatGeometry::decode(const uint8_t* sector, size_t length, CFatGeometry& g)
{
    if (!sector || length < kBootSectorSize)
        return false;
    CFatGeometry d;
    d.bytesPerSector = le::u16(sector + kBytesPerSectorField);
    d.sectorsPerCluster = sector[kSectorsPerClusterField];
    d.reservedSectors = le::u16(sector + kReservedSectorsField);
    d.fatCount = sector[kFatCountField];
    d.sectorsPerFat = le::u32(sector + kSectorsPerFat32Field);
    d.rootCluster = le::u32(sector + kRootClusterField) & kFat32EntryMask;
    d.totalSectors = le::u16(sector + kTotalSectors16Field);
    if (d.totalSectors == 0)
        d.totalSectors = le::u32(sector + kTotalSectors32Field);

    if (!isPowerOfTwo(d.bytesPerSector) || d.bytesPerSector < kMinSectorSize || d.bytesPerSector > kMaxSectorSize)
        return false;
    if (!isPowerOfTwo(d.sectorsPerCluster) || d.sectorsPerCluster > kMaxSectorsPerCluster)
        return false;
    if (d.reservedSectors == 0 || d.fatCount == 0 || d.sectorsPerFat == 0 || d.totalSectors == 0)
        return false;

    // All sums are below 2^16 + 2^8 * 2^32 and 2^32 * 2^12: no overflow.
    d.dataStartSector = d.reservedSectors + static_cast<uint64_t>(d.fatCount) * d.sectorsPerFat;
    if (d.dataStartSector >= d.totalSectors)
        return false;
    const uint64_t clusters = (d.totalSectors - d.dataStartSector) / d.sectorsPerCluster;
    // The FAT must also have an entry for every cluster it is asked about.
    const uint64_t fatEntries = static_cast<uint64_t>(d.sectorsPerFat) * d.bytesPerSector / kFat32EntryBytes;
    const uint64_t highest = std::min<uint64_t>({clusters + 1, fatEntries - 1, kFat32Bad - 1});
    if (clusters == 0 || highest < kFirstDataCluster)
        return false;
    d.highestCluster = static_cast<uint32_t>(highest);
    if (d.rootCluster < kFirstDataCluster || d.rootCluster > d.highestCluster)
        return false;
    g = d;
    return true;
}

int64_t CFatGeometry::clusterOffset(uint32_t cluster) const
{
    const uint64_t sector = dataStartSector + static_cast<uint64_t>(cluster - kFirstDataCluster) * sectorsPerCluster;
    return static_cast<int64_t>(sector * bytesPerSector);
}

uint64_t CFatGeometry::lastWholeCluster(int64_t volumeLength) const
{
    const int64_t bytes = clusterBytes();
    const int64_t dataStart = clusterOffset(kFirstDataCluster);
    if (bytes <= 0 || volumeLength - dataStart < bytes)
        return 0;
    return std::min<uint64_t>(highestCluster, kFirstDataCluster + (volumeLength - dataStart) / bytes - 1);
}
