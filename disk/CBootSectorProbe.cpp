#include "disk/CBootSectorProbe.h"

#include "disk/IVolume.h"
#include "disk/LittleEndian.h"
#include "filesystems/CFatGeometry.h"

#include <cstring>

namespace {

constexpr int kBootSignatureOffset = 510;
constexpr uint8_t kJumpShort = 0xEB;
constexpr uint8_t kJumpNear = 0xE9;

// A FAT12 or FAT16 boot sector carries no type that counts (its label is
// only a label): a jump to its code, the boot signature, a geometry that
// decodes to a fixed root, and, where the bytes reach that far, a FAT that
// begins with the media byte and an end of chain.
QString fixedRootFatType(const unsigned char* sector, int length)
{
    if ((sector[0] != kJumpShort && sector[0] != kJumpNear) || le::u16(sector + kBootSignatureOffset) != 0xAA55)
        return QString();
    CFatGeometry g;
    if (!CFatGeometry::decode(sector, static_cast<size_t>(length), g) || !g.hasRootRegion())
        return QString();
    const int64_t fat = g.fatOffset();
    if (fat + 4 <= length && !g.tableStartFits(sector + fat, static_cast<size_t>(length - fat)))
        return QString();
    return g.typeName();
}

} // namespace

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
    // Before ext4's magic, which a FAT's table may hold by chance where
    // the superblock would lie; the FAT checks are the stricter ones.
    const QString fat = fixedRootFatType(sector, length);
    if (!fat.isEmpty())
        return fat;
    if (length >= kExtMagicOffset + 2 && sector[kExtMagicOffset] == 0x53 && sector[kExtMagicOffset + 1] == 0xEF)
        return QStringLiteral("EXT4");
    return QString();
}
