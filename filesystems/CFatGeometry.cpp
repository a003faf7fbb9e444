#include "filesystems/CFatGeometry.h"

#include "disk/LittleEndian.h"
#include "filesystems/CFatDirectoryEntry.h"

#include <algorithm>

namespace {

constexpr size_t kBootSectorSize = 512;
constexpr size_t kBytesPerSectorField = 0x0B;
constexpr size_t kSectorsPerClusterField = 0x0D;
constexpr size_t kReservedSectorsField = 0x0E;
constexpr size_t kFatCountField = 0x10;
constexpr size_t kTotalSectors16Field = 0x13;
constexpr size_t kTotalSectors32Field = 0x20;
constexpr size_t kRootEntriesField = 0x11;
constexpr size_t kMediaField = 0x15;
constexpr size_t kSectorsPerFat16Field = 0x16;
constexpr size_t kSectorsPerFat32Field = 0x24;
constexpr size_t kRootClusterField = 0x2C;

constexpr uint32_t kMinSectorSize = 512;
constexpr uint32_t kMaxSectorSize = 4096;
constexpr uint32_t kMaxSectorsPerCluster = 128;

constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;
constexpr uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr uint32_t kFat32EntryBytes = 4;
// Below these counts of data clusters a FAT is FAT12, then FAT16.
constexpr uint64_t kFat12Clusters = 4085;
constexpr uint64_t kFat16Clusters = 65525;
// Media descriptors: 0xF0, or 0xF8 and above.
constexpr uint8_t kMediaRemovable = 0xF0;
constexpr uint8_t kMediaLowestFixed = 0xF8;

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
    d.media = sector[kMediaField];
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
    const uint32_t sectorsPerFat16 = le::u16(sector + kSectorsPerFat16Field);
    if (sectorsPerFat16 != 0)
        return decodeFixedRoot(sector, d, sectorsPerFat16, g);
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

bool CFatGeometry::decodeFixedRoot(const uint8_t* sector, CFatGeometry d, uint32_t sectorsPerFat, CFatGeometry& g)
{
    // The checks the FAT32 fields had, and those of a fixed root: it has
    // entries, and lies whole before the data.
    d.sectorsPerFat = sectorsPerFat;
    d.rootCluster = 0;
    d.rootEntries = le::u16(sector + kRootEntriesField);
    if (d.reservedSectors == 0 || d.fatCount == 0 || d.totalSectors == 0 || d.rootEntries == 0)
        return false;
    if (d.media != kMediaRemovable && d.media < kMediaLowestFixed)
        return false;
    // Below 2^16 * 32 + 2^12 and 2^16 + 2^8 * 2^16 + 2^16: no overflow.
    d.rootDirSectors = (d.rootEntries * 32 + d.bytesPerSector - 1) / d.bytesPerSector;
    d.rootDirSector = d.reservedSectors + static_cast<uint64_t>(d.fatCount) * d.sectorsPerFat;
    d.dataStartSector = d.rootDirSector + d.rootDirSectors;
    if (d.dataStartSector >= d.totalSectors)
        return false;
    const uint64_t clusters = (d.totalSectors - d.dataStartSector) / d.sectorsPerCluster;
    // A count only FAT32 may have, with a FAT size only FAT12 and FAT16
    // have: no volume.
    if (clusters == 0 || clusters >= kFat16Clusters)
        return false;
    d.entryBits = clusters < kFat12Clusters ? 12 : 16;
    const CFatEntryWidth width(d.entryBits);
    const uint64_t fatEntries = width.entries(static_cast<int64_t>(d.sectorsPerFat) * d.bytesPerSector);
    if (fatEntries < kFirstDataCluster + 1)
        return false;
    const uint64_t highest = std::min<uint64_t>({clusters + 1, fatEntries - 1, width.badMark() - 1});
    if (highest < kFirstDataCluster)
        return false;
    d.highestCluster = static_cast<uint32_t>(highest);
    g = d;
    return true;
}

uint32_t CFatGeometry::startCluster(const uint8_t* entry) const
{
    const uint32_t cluster = CFatDirectoryEntry::startCluster(entry);
    return hasRootRegion() ? cluster & 0xFFFF : cluster;
}

QString CFatGeometry::typeName() const
{
    return QStringLiteral("FAT%1").arg(entryBits);
}

bool CFatGeometry::tableStartFits(const uint8_t* bytes, size_t length) const
{
    const CFatEntryWidth w = width();
    if (!bytes || static_cast<int64_t>(length) < w.byteOffset(1) + w.bytesPerRead())
        return false;
    // FAT[0]'s low byte is the media byte, and every bit above it is set.
    // FAT[1] is an end of chain, but for the two top bits that FAT16 and
    // FAT32 clear while the volume is dirty or has met a disk error.
    uint32_t first = 0;
    uint32_t second = 0;
    uint32_t ones = 0;
    uint32_t endBits = 0;
    if (entryBits == 12) {
        first = le::u16(bytes) & 0xFFF;
        second = le::u16(bytes + 1) >> 4;
        ones = 0xF00;
        endBits = 0xFF8;
    } else if (entryBits == 16) {
        first = le::u16(bytes);
        second = le::u16(bytes + 2);
        ones = 0xFF00;
        endBits = 0x3FF8;
    } else {
        first = le::u32(bytes) & 0x0FFFFFFF;
        second = le::u32(bytes + 4);
        ones = 0x0FFFFF00;
        endBits = 0x03FFFFF8;
    }
    return first == (ones | media) && (second & endBits) == endBits;
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
