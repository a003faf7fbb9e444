#pragma once

#include <QString>

class IVolume;

// Names the file system of a volume from its boot sector, in the words the
// scan driver expects: "NTFS", "FAT32", or an empty text for anything else
// (another file system, a partition table, random bytes).
class CBootSectorProbe
{
public:
    static constexpr int kOemIdOffset = 3;          // "NTFS    "
    static constexpr int kFat32TypeOffset = 0x52;    // "FAT32   "

    static QString detect(IVolume& volume);
    static QString detect(const unsigned char* sector, int length);
};
