#include "disk/CBootSectorProbe.h"

#include "disk/IVolume.h"

#include <cstring>

QString CBootSectorProbe::detect(IVolume& volume)
{
    unsigned char sector[kProbeBytes];
    const IVolume::ReadResult r = volume.read(0, sector, sizeof sector);
    return detect(sector, static_cast<int>(r.bytes));
}

QString CBootSectorProbe::detect(const unsigned char* sector, int length)
{
    if (!sector || length < 512)
        return QString();
    if (std::memcmp(sector + kOemIdOffset, "NTFS    ", 8) == 0)
        return QStringLiteral("NTFS");
    if (std::memcmp(sector + kFat32TypeOffset, "FAT32   ", 8) == 0)
        return QStringLiteral("FAT32");
    if (std::memcmp(sector + kOemIdOffset, "EXFAT   ", 8) == 0)
        return QStringLiteral("exFAT");
    if (length >= kExtMagicOffset + 2 && sector[kExtMagicOffset] == 0x53 && sector[kExtMagicOffset + 1] == 0xEF)
        return QStringLiteral("EXT4");
    return QString();
}
