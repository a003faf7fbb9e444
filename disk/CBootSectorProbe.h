#pragma once

#include <QString>

class IVolume;

// Names the file system of a volume from its boot sector (or, for ext2/3/4,
// its superblock), in the words the scan driver expects: "NTFS", "FAT32",
// "FAT16", "FAT12", "exFAT", "EXT4", or an empty text for anything else
// (another file system, a partition table, random bytes). Every ext2/3/4
// volume is "EXT4": one pass reads them all.
class CBootSectorProbe
{
public:
    static constexpr int kOemIdOffset = 3;          // "NTFS    "
    static constexpr int kFat32TypeOffset = 0x52;    // "FAT32   "
    static constexpr int kExtMagicOffset = 1080;     // 0xEF53, little-endian
    static constexpr int kProbeBytes = 2048;

    static QString detect(IVolume& volume);
    // `length` bytes from the start of the volume (kProbeBytes for ext4).
    static QString detect(const unsigned char* sector, int length);
};
