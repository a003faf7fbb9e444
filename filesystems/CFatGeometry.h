#pragma once

#include "filesystems/CFatEntryWidth.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// Where things lie on a FAT volume, as its boot sector says: the reserved
// sectors, the FATs after them, on FAT12 and FAT16 the root directory's
// fixed region after those, and the data clusters (numbered from 2) after
// that. Derived values are checked against one another when the sector is
// decoded, so that every offset computed from a decoded geometry is on the
// volume the boot sector describes.
//
// The count of data clusters decides the width of the FAT's entries (fewer
// than 4085: FAT12, fewer than 65525: FAT16), as the format prescribes,
// for every boot sector with a 16-bit FAT size. One whose 16-bit FAT size
// is 0 is FAT32 whatever its count, as Linux reads it and mkfs.fat makes
// small ones.
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
    // 12, 16 or 32.
    uint32_t entryBits = 32;
    // FAT12 and FAT16: the root directory's region and its entries.
    uint32_t rootEntries = 0;
    uint64_t rootDirSector = 0;
    uint32_t rootDirSectors = 0;
    // The media descriptor that FAT[0] repeats.
    uint8_t media = 0;

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

    CFatEntryWidth width() const { return CFatEntryWidth(entryBits); }
    // "FAT12", "FAT16" or "FAT32".
    QString typeName() const;
    // Whether the root directory is a fixed region (FAT12, FAT16) rather
    // than a chain from rootCluster.
    bool hasRootRegion() const { return entryBits != 32; }
    int64_t rootOffset() const { return static_cast<int64_t>(rootDirSector * bytesPerSector); }
    int64_t rootBytes() const { return static_cast<int64_t>(rootEntries) * 32; }
    // The first cluster a directory entry names. On FAT12 and FAT16 the
    // entry's high half is no part of it (OS/2 kept an extended-attribute
    // handle there).
    uint32_t startCluster(const uint8_t* entry) const;
    // Whether the table's first two entries are those a formatter writes:
    // FAT[0] the media byte with every higher bit set, FAT[1] an end of
    // chain. `bytes` are the table's first `length` bytes.
    bool tableStartFits(const uint8_t* bytes, size_t length) const;

private:
    // The rest of decode() for a boot sector with a 16-bit FAT size.
    static bool decodeFixedRoot(const uint8_t* sector, CFatGeometry d, uint32_t sectorsPerFat, CFatGeometry& g);
};
