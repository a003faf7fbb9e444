#pragma once

#include <cstddef>
#include <cstdint>

// Where things lie on a FAT volume, as its boot sector says: the reserved
// sectors, the FATs after them, and the data clusters (numbered from 2)
// after the FATs. Derived values are checked against one another when the
// sector is decoded, so that every offset computed from a decoded geometry
// is on the volume the boot sector describes.
class CFatGeometry
{
public:
    uint32_t bytesPerSector = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectors = 0;
    uint32_t fatCount = 0;
    uint32_t sectorsPerFat = 0;
    uint32_t rootCluster = 0;
    uint64_t totalSectors = 0;
    // Derived.
    uint64_t dataStartSector = 0;
    uint32_t highestCluster = 0;

    static constexpr uint32_t kFirstDataCluster = 2;

    // False when the sector is too short or its geometry is zero or absurd.
    static bool decode(const uint8_t* sector, size_t length, CFatGeometry& geometry);

    uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    // Byte offset of a data cluster (kFirstDataCluster or above).
    int64_t clusterOffset(uint32_t cluster) const;
    // The highest cluster that lies wholly on a volume of that length (a
    // boot sector may claim more than an image cut short holds); 0 when
    // none does.
    uint64_t lastWholeCluster(int64_t volumeLength) const;
    // Byte offset and length of the first FAT.
    int64_t fatOffset() const { return static_cast<int64_t>(reservedSectors) * bytesPerSector; }
    int64_t fatBytes() const { return static_cast<int64_t>(sectorsPerFat) * bytesPerSector; }
};
