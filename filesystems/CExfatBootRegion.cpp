#include "filesystems/CExfatBootRegion.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"

#include <cstring>
#include <vector>

namespace {

// Main boot sector.
constexpr size_t kFileSystemNameField = 3;
constexpr char kFileSystemName[] = "EXFAT   ";
constexpr size_t kMustBeZeroField = 11;
constexpr size_t kMustBeZeroLength = 53;
constexpr size_t kVolumeLengthField = 72;
constexpr size_t kFatOffsetField = 80;
constexpr size_t kFatLengthField = 84;
constexpr size_t kHeapOffsetField = 88;
constexpr size_t kClusterCountField = 92;
constexpr size_t kRootClusterField = 96;
constexpr size_t kVolumeFlagsField = 106;
constexpr size_t kSectorShiftField = 108;
constexpr size_t kClusterShiftField = 109;
constexpr size_t kFatCountField = 110;
constexpr size_t kPercentInUseField = 112;
constexpr size_t kBootSignatureField = 510;
constexpr uint32_t kMinSectorShift = 9;
constexpr uint32_t kMaxSectorShift = 12;
constexpr uint32_t kMaxClusterBytesShift = 25; // 32 MiB clusters
constexpr uint32_t kMinFatOffset = 24;         // after both boot regions
constexpr int kChecksumSector = 11;

} // namespace

bool CExfatBootRegion::decode(const uint8_t* sector, size_t length, Geometry& g)
{
    if (!sector || length < 512)
        return false;
    if (std::memcmp(sector + kFileSystemNameField, kFileSystemName, 8) != 0)
        return false;
    for (size_t i = 0; i < kMustBeZeroLength; ++i)
        if (sector[kMustBeZeroField + i] != 0)
            return false;
    if (le::u16(sector + kBootSignatureField) != 0xAA55)
        return false;
    Geometry d;
    d.sectorShift = sector[kSectorShiftField];
    d.clusterShift = sector[kClusterShiftField];
    d.volumeSectors = le::u64(sector + kVolumeLengthField);
    d.fatOffset = le::u32(sector + kFatOffsetField);
    d.fatLength = le::u32(sector + kFatLengthField);
    d.heapOffset = le::u32(sector + kHeapOffsetField);
    d.clusterCount = le::u32(sector + kClusterCountField);
    d.rootCluster = le::u32(sector + kRootClusterField);
    const uint32_t fats = sector[kFatCountField];
    if (d.sectorShift < kMinSectorShift || d.sectorShift > kMaxSectorShift)
        return false;
    if (d.sectorShift + d.clusterShift > kMaxClusterBytesShift)
        return false;
    if (fats != 1 && fats != 2)
        return false;
    if (d.clusterCount == 0 || d.clusterCount > 0xFFFFFFF5u)
        return false;
    // The FAT holds an entry for every cluster; the heap starts after the
    // FATs and holds every cluster inside the volume. All in 64 bits.
    const uint64_t fatBytesNeeded = (uint64_t(d.clusterCount) + 2) * 4;
    if (d.fatOffset < kMinFatOffset || (uint64_t(d.fatLength) << d.sectorShift) < fatBytesNeeded)
        return false;
    if (d.heapOffset < uint64_t(d.fatOffset) + uint64_t(d.fatLength) * fats)
        return false;
    if (d.volumeSectors > (uint64_t(1) << 52) >> d.sectorShift)
        return false;
    if (d.heapOffset + (uint64_t(d.clusterCount) << d.clusterShift) > d.volumeSectors)
        return false;
    if (!d.validCluster(d.rootCluster))
        return false;
    g = d;
    return true;
}

uint32_t CExfatBootRegion::checksum(const uint8_t* region, size_t sectorBytes)
{
    uint32_t sum = 0;
    const size_t length = sectorBytes * kChecksumSector;
    for (size_t i = 0; i < length; ++i) {
        if (i == kVolumeFlagsField || i == kVolumeFlagsField + 1 || i == kPercentInUseField)
            continue;
        sum = ((sum & 1u) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    return sum;
}

bool CExfatBootRegion::readAt(IVolume& volume, int64_t offset, uint32_t sectorShift, Geometry& geometry)
{
    const size_t sectorBytes = size_t(1) << sectorShift;
    std::vector<uint8_t> region(sectorBytes * kRegionSectors);
    const IVolume::ReadResult r = volume.read(offset, region.data(), region.size());
    if (r.bytes < static_cast<int64_t>(region.size()))
        return false;
    Geometry g;
    if (!decode(region.data(), region.size(), g) || g.sectorShift != sectorShift)
        return false;
    const uint32_t sum = checksum(region.data(), sectorBytes);
    const uint8_t* stored = region.data() + sectorBytes * kChecksumSector;
    for (size_t i = 0; i + 4 <= sectorBytes; i += 4)
        if (le::u32(stored + i) != sum)
            return false;
    geometry = g;
    return true;
}

bool CExfatBootRegion::read(IVolume& volume, Geometry& geometry)
{
    uint8_t first[512];
    const IVolume::ReadResult r = volume.read(0, first, sizeof first);
    Geometry g;
    if (r.bytes == static_cast<int64_t>(sizeof first) && decode(first, sizeof first, g)
        && readAt(volume, 0, g.sectorShift, geometry))
        return true;
    // The backup region follows the main one: its place depends on the
    // sector size, which the damaged main sector may no longer tell.
    for (uint32_t shift = kMinSectorShift; shift <= kMaxSectorShift; ++shift)
        if (readAt(volume, int64_t(kRegionSectors) << shift, shift, geometry))
            return true;
    return false;
}
